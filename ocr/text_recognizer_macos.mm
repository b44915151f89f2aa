// Text recognition on macOS: one accurate Vision request per image, performed synchronously.
#include "text_recognizer.hpp"

#import <Foundation/Foundation.h>
#import <Vision/Vision.h>

#include "image_macos.hpp"

#if !__has_feature(objc_arc)
#error "text_recognizer_macos.mm must be compiled with ARC (-fobjc-arc)"
#endif

namespace orvane::ocr {
namespace {

class VisionRecognizer final : public TextRecognizer {
 public:
  std::optional<std::vector<TextObservation>> recognize(const std::string& path) override {
    @autoreleasepool {
      cf::Ref<CGImageRef> bitmap = macos::loadBitmap(path);
      if (!bitmap) return std::nullopt;

      VNRecognizeTextRequest* request = [[VNRecognizeTextRequest alloc] init];
      request.recognitionLevel = VNRequestTextRecognitionLevelAccurate;
      request.usesLanguageCorrection = YES;
      request.recognitionLanguages = @[ @"en-US" ];

      VNImageRequestHandler* handler = [[VNImageRequestHandler alloc] initWithCGImage:bitmap.get()
                                                                              options:@{}];
      NSError* error = nil;
      if (![handler performRequests:@[ request ] error:&error]) return std::nullopt;

      std::vector<TextObservation> observations;
      for (VNRecognizedTextObservation* observation in request.results ?: @[]) {
        TextObservation item;
        VNRecognizedText* top = [observation topCandidates:1].firstObject;
        if (top) {
          // Lone surrogates become U+FFFD rather than losing the whole reading.
          item.topCandidate = cf::toUtf8((__bridge CFStringRef)top.string);
          item.confidence = top.confidence;
        }
        const CGRect box = observation.boundingBox;
        item.boundingBox = {box.origin.x, box.origin.y, box.size.width, box.size.height};
        observations.push_back(std::move(item));
      }
      return observations;
    }
  }
};

}  // namespace

std::unique_ptr<TextRecognizer> makeTextRecognizerVision() {
  return std::make_unique<VisionRecognizer>();
}

}  // namespace orvane::ocr

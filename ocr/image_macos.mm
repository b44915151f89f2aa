#include "image_macos.hpp"

#include "text_recognizer.hpp"

#import <AppKit/AppKit.h>

#if !__has_feature(objc_arc)
#error "image_macos.mm must be compiled with ARC (-fobjc-arc)"
#endif

namespace orvane::ocr::macos {

cf::Ref<CGImageRef> loadBitmap(const std::string& path) {
  @autoreleasepool {
    // The argument's bytes as the file system spells them, whatever their encoding.
    NSString* file =
        [[NSFileManager defaultManager] stringWithFileSystemRepresentation:path.c_str()
                                                                    length:path.size()];
    if (!file) return {};
    NSImage* image = [[NSImage alloc] initWithContentsOfFile:file];
    if (!image) return {};
    // NOTE: the representations know their pixel size from the file's header; nothing has been
    // decoded yet. An image over the limit is never decoded.
    for (NSImageRep* representation in image.representations) {
      if (!withinPixelLimit(double(representation.pixelsWide), double(representation.pixelsHigh)) &&
          representation.pixelsWide != NSImageRepMatchesDevice) {
        return {};
      }
    }
    CGImageRef bitmap = [image CGImageForProposedRect:nil context:nil hints:nil];
    if (!bitmap) return {};
    if (!withinPixelLimit(double(CGImageGetWidth(bitmap)), double(CGImageGetHeight(bitmap)))) {
      return {};
    }
    // The bitmap belongs to the image; our own reference outlives the pool.
    return cf::Ref<CGImageRef>(CGImageRetain(bitmap));
  }
}

}  // namespace orvane::ocr::macos

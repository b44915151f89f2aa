// A check aid, never shipped and never used on a Mac: the declarations of Vision that the
// programs use, for compiling and linking the macOS build against an SDK subset that has no
// Vision.framework. They follow Apple's published declarations, availability included, so that a
// call newer than the deployment target still fails the check. What a program newly uses from
// Vision is added here, as Apple declares it, with its symbols in ../Vision.tbd.
#import <CoreGraphics/CoreGraphics.h>
#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

typedef float VNConfidence;

@class VNRequest;
typedef void (^VNRequestCompletionHandler)(VNRequest* request, NSError* _Nullable error);

API_AVAILABLE(macos(10.13), ios(11.0), tvos(11.0))
@interface VNRequest : NSObject <NSCopying>
- (instancetype)init;
- (instancetype)initWithCompletionHandler:(nullable VNRequestCompletionHandler)completionHandler
    NS_DESIGNATED_INITIALIZER;
@property(readwrite, nonatomic, assign) BOOL preferBackgroundProcessing;
@property(readonly, nonatomic, copy, nullable) NSArray* results;
@property(readonly, nonatomic, copy, nullable) VNRequestCompletionHandler completionHandler;
@property(readwrite, nonatomic, assign)
    NSUInteger revision API_AVAILABLE(macos(10.14), ios(12.0), tvos(12.0));
- (void)cancel API_AVAILABLE(macos(10.15), ios(13.0), tvos(13.0));
@end

API_AVAILABLE(macos(10.14), ios(12.0), tvos(12.0))
static const NSUInteger VNRequestRevisionUnspecified = 0;

API_AVAILABLE(macos(10.13), ios(11.0), tvos(11.0))
@interface VNImageBasedRequest : VNRequest
@property(readwrite, nonatomic, assign) CGRect regionOfInterest;
@end

API_AVAILABLE(macos(10.13), ios(11.0), tvos(11.0))
@interface VNObservation : NSObject <NSCopying, NSSecureCoding>
@property(readonly, nonatomic, strong) NSUUID* uuid;
@property(readonly, nonatomic, assign) VNConfidence confidence;
@end

API_AVAILABLE(macos(10.13), ios(11.0), tvos(11.0))
@interface VNDetectedObjectObservation : VNObservation
@property(readonly, nonatomic, assign) CGRect boundingBox;
@end

API_AVAILABLE(macos(10.13), ios(11.0), tvos(11.0))
@interface VNRectangleObservation : VNDetectedObjectObservation
@property(readonly, nonatomic, assign) CGPoint topLeft;
@property(readonly, nonatomic, assign) CGPoint topRight;
@property(readonly, nonatomic, assign) CGPoint bottomLeft;
@property(readonly, nonatomic, assign) CGPoint bottomRight;
@end

API_AVAILABLE(macos(10.15), ios(13.0), tvos(13.0))
@interface VNRecognizedText : NSObject <NSCopying, NSSecureCoding>
@property(readonly, nonatomic, copy) NSString* string;
@property(readonly, nonatomic, assign) VNConfidence confidence;
- (nullable VNRectangleObservation*)boundingBoxForRange:(NSRange)range error:(NSError**)error;
@end

API_AVAILABLE(macos(10.15), ios(13.0), tvos(13.0))
@interface VNRecognizedTextObservation : VNRectangleObservation
- (NSArray<VNRecognizedText*>*)topCandidates:(NSUInteger)maxCandidateCount;
@end

typedef NS_ENUM(NSInteger, VNRequestTextRecognitionLevel) {
  VNRequestTextRecognitionLevelAccurate = 0,
  VNRequestTextRecognitionLevelFast,
};

API_AVAILABLE(macos(10.15), ios(13.0), tvos(13.0))
@interface VNRecognizeTextRequest : VNImageBasedRequest
@property(readwrite, nonatomic, copy) NSArray<NSString*>* recognitionLanguages;
@property(readwrite, nonatomic, copy) NSArray<NSString*>* customWords;
@property(readwrite, nonatomic, assign) VNRequestTextRecognitionLevel recognitionLevel;
@property(readwrite, nonatomic, assign) BOOL usesLanguageCorrection;
@property(readwrite, nonatomic, assign) float minimumTextHeight;
@property(readonly, nonatomic, copy, nullable) NSArray<VNRecognizedTextObservation*>* results;
@end

API_DEPRECATED("", macos(10.15, 15.0), ios(13.0, 18.0), tvos(13.0, 18.0))
static const NSUInteger VNRecognizeTextRequestRevision1 = 1;
API_DEPRECATED("", macos(11.0, 15.0), ios(14.0, 18.0), tvos(14.0, 18.0))
static const NSUInteger VNRecognizeTextRequestRevision2 = 2;
API_AVAILABLE(macos(13.0), ios(16.0), tvos(16.0))
static const NSUInteger VNRecognizeTextRequestRevision3 = 3;

typedef NSString* VNImageOption NS_STRING_ENUM;

API_AVAILABLE(macos(10.13), ios(11.0), tvos(11.0))
@interface VNImageRequestHandler : NSObject
- (instancetype)init NS_UNAVAILABLE;
- (instancetype)initWithCGImage:(CGImageRef)image options:(NSDictionary<VNImageOption, id>*)options;
- (BOOL)performRequests:(NSArray<VNRequest*>*)requests error:(NSError**)error;
@end

NS_ASSUME_NONNULL_END

// The seams of the processing pipeline toward the layers above it. The managers and algorithm
// objects belong to a file access object, which they see only as a TPipelineOwner; they report
// percentages to the progress target it names (the database object that owns the file access
// object, which raises its OnCompressProgress ... OnDecryptProgress events from them).
#pragma once

#include <cstdint>
#include <functional>

namespace zq {

enum class TPipelineOperation { Compress, Uncompress, Encrypt, Decrypt };

class TPipelineProgressTarget {
 public:
  virtual ~TPipelineProgressTarget() = default;
  virtual void PipelineProgress(TPipelineOperation operation, int percent) = 0;
};

// The owner of the managers and algorithm objects: the file access object implements it.
class TPipelineOwner {
 public:
  virtual ~TPipelineOwner() = default;
  // Where progress goes, or nullptr when nobody listens.
  virtual TPipelineProgressTarget* ProgressTarget() const = 0;
};

// A progress callback: (sender, percent 0..100).
using TOnProgressEvent = std::function<void(void* sender, int percent)>;

// round(part * 100 / whole), ties to even; 0 when whole is 0.
int ProgressPercent(int64_t part, int64_t whole);

}  // namespace zq

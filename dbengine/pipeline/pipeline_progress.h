// The progress seam of the processing pipeline. The algorithm objects report percentages to the
// owner of their file access object when that owner implements this interface (the database
// object does, and raises its OnCompressProgress ... OnDecryptProgress events from it).
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

// A progress callback: (sender, percent 0..100).
using TOnProgressEvent = std::function<void(void* sender, int percent)>;

// round(part * 100 / whole), ties to even; 0 when whole is 0.
int ProgressPercent(int64_t part, int64_t whole);

}  // namespace zq

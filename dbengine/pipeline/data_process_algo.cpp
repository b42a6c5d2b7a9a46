#include "dbengine/pipeline/data_process_algo.h"

#include <vector>

#include "dbengine/pipeline/pipeline_progress.h"

namespace zq {

int ProgressPercent(int64_t part, int64_t whole) {
  if (whole == 0) return 0;
  // Exact rounding of part * 100 / whole, ties to even, in integers.
  int64_t num = part * 100;
  int64_t q = num / whole, r = num % whole;
  if (2 * r > whole || (2 * r == whole && (q & 1) != 0)) ++q;
  return static_cast<int>(q);
}

void TEncryptAlgo::EncodeStream(TMemoryStream& source, TMemoryStream& destination, int64_t size) {
  ProcessStream(source, destination, size, true);
}

void TEncryptAlgo::DecodeStream(TMemoryStream& source, TMemoryStream& destination, int64_t size) {
  ProcessStream(source, destination, size, false);
}

void TEncryptAlgo::ProcessStream(TMemoryStream& source, TMemoryStream& destination, int64_t size,
                                 bool encode) {
  auto progress = [&](int percent) {
    if (encode)
      EncodeProgress(percent);
    else
      DecodeProgress(percent);
  };
  if (size < 0) {
    size = source.Size();
    source.SetPosition(0);
  }
  const bool in_place = &source == &destination;
  progress(0);
  try {
    std::vector<uint8_t> chunk(static_cast<size_t>(kChunkSize));
    int64_t done = 0;
    while (done < size) {
      int64_t want = std::min(kChunkSize, size - done);
      int64_t got = source.Read(chunk.data(), want);
      if (got <= 0) break;
      if (encode)
        EncodeBuffer(chunk.data(), chunk.data(), got);
      else
        DecodeBuffer(chunk.data(), chunk.data(), got);
      // In place, the chunk goes back where it was read.
      if (in_place) destination.Seek(-got, SeekOrigin::Current);
      destination.WriteBuffer(chunk.data(), got);
      done += got;
      progress(ProgressPercent(done, size));
    }
  } catch (...) {
    progress(0);
    throw;
  }
  progress(0);
}

}  // namespace zq

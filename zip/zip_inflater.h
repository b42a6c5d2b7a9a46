// Raw deflate decoding of archive entries. Built with Intel's ISA-L when it was found at
// configure time (its inflate is several times faster than zlib's), with zlib otherwise; both
// decode the same format to the same bytes. The database's zlib units never use this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zq {

class TZipInflater {
 public:
  enum class Result {
    kMore,   // all input taken or the output is full: call again with more of either
    kEnd,    // the deflate stream ended; input behind it is left alone
    kError,  // corrupt deflate data
  };

  TZipInflater();
  ~TZipInflater();
  TZipInflater(const TZipInflater&) = delete;
  TZipInflater& operator=(const TZipInflater&) = delete;

  // Starts a new stream, keeping the memory of the last one.
  void Reset();

  // Decodes from [in, in + in_left) into [out, out + out_left); advances the pointers and lowers
  // the counts by what was consumed and produced.
  Result Inflate(const uint8_t*& in, size_t& in_left, uint8_t*& out, size_t& out_left);

  // After kEnd: bytes that were taken from the input but lie behind the end of the stream.
  size_t TakenBehindTheEnd() const;

  // "ISA-L" or "zlib": the decoder this build uses.
  static const char* Engine();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zq

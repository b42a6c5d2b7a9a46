// TEncrypt, the cipher engine every block cipher derives from: key setup around the cipher's key
// schedule, the key-from-password step, and the chaining modes of the buffer operations.
//
// Modes (the byte stored in a database header):
//   0 modeXorChain  C := E(P xor F), F := C xor F           (decrypt: P := D(C) xor F, F := C xor F)
//   1 modeCBC       C := E(P xor F), F := C                 (decrypt: P := D(C) xor F, F := C)
//   modes 0 and 1, trailing r < B bytes: K := E(F), out := in xor K[0..r); mode 0 then F := K xor F
//   2 modeCFB8      per byte: K := E(F), out := in xor K[0], F shifts left, last byte := ciphertext
//   3 modeOFB8      per byte: K := E(F), out := in xor K[0], F shifts left, last byte := K[0]
//   4 modeECB       whole blocks alone; a trailing partial block is copied unchanged
//   above 4         bytes are copied unchanged
// No padding: the output is always as long as the input.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "dbengine/crypto/hash.h"

namespace zq {

enum TCipherMode : uint8_t { modeXorChain = 0, modeCBC = 1, modeCFB8 = 2, modeOFB8 = 3, modeECB = 4 };

class TEncrypt {
 public:
  // The class-level context of a cipher.
  struct Context {
    int BufSize;   // block size in bytes
    int KeySize;   // largest key in bytes
    int UserSize;  // key schedule area in bytes
  };

  virtual ~TEncrypt();
  TEncrypt(const TEncrypt&) = delete;
  TEncrypt& operator=(const TEncrypt&) = delete;

  virtual const char* ClassName() const = 0;

  uint8_t Mode() const { return mode_; }
  void SetMode(uint8_t mode) { mode_ = mode; }
  int KeySize() const { return context_.KeySize; }
  int BufSize() const { return context_.BufSize; }
  int UserSize() const { return context_.UserSize; }
  bool Initialized() const { return initialized_; }
  // The hash used by InitKey (THash_SHA), created on first use.
  THash& Hash();

  const uint8_t* Buffer() const { return buffer_.get(); }
  const uint8_t* Vector() const { return vector_.get(); }
  const uint8_t* Feedback() const { return feedback_.get(); }
  const uint8_t* User() const { return reinterpret_cast<const uint8_t*>(user_.get()); }

  // Key setup: reset, the cipher's key schedule over at most KeySize bytes of key (a negative
  // size counts as 0), then Vector := the BufSize bytes at vector, or E(FF..FF) when vector is
  // null; Feedback := Vector.
  void Init(const void* key, int size, const void* vector = nullptr);
  // Init with the SHA-0 digest of the password's bytes cut to KeySize, then Done.
  void InitKey(std::string_view password, const void* vector = nullptr);
  // Restarts the chain: Feedback := Vector.
  void Done();
  // Clears the key: initialised flag off, Vector and Feedback 0xFF, Buffer and User zero.
  void Protect();

  // Transforms size bytes from source to dest (which may be the same) in the current mode.
  // EEncryptException code 3 when no key is set.
  void EncodeBuffer(const void* source, void* dest, int64_t size);
  void DecodeBuffer(const void* source, void* dest, int64_t size);

  // One block in place, for the key schedule's own use and for tests of the raw cipher.
  virtual void EncodeBlock(uint8_t* block) = 0;
  virtual void DecodeBlock(uint8_t* block) = 0;

 protected:
  explicit TEncrypt(const Context& context);

  // Fills the (zeroed) key schedule area from size key bytes, 0 <= size <= KeySize.
  virtual void KeySchedule(const uint8_t* key, int size) = 0;
  // The whole-buffer transformations of modes 0..4, with inlined block functions.
  virtual void EncodeModes(const uint8_t* src, uint8_t* dst, size_t size) = 0;
  virtual void DecodeModes(const uint8_t* src, uint8_t* dst, size_t size) = 0;

  // The key schedule area as 32-bit words (UserSize is a multiple of 4 for every cipher).
  uint32_t* UserWords() { return user_.get(); }
  uint8_t* FeedbackArea() { return feedback_.get(); }
  uint8_t* BufferArea() { return buffer_.get(); }

 private:
  void CheckInitialized() const;

  Context context_;
  uint8_t mode_ = 0;
  bool initialized_ = false;
  std::unique_ptr<THash> hash_;
  std::unique_ptr<uint8_t[]> buffer_;
  std::unique_ptr<uint8_t[]> vector_;
  std::unique_ptr<uint8_t[]> feedback_;
  std::unique_ptr<uint32_t[]> user_;
};

}  // namespace zq

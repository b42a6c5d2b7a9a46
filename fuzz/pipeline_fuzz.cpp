// Fuzz target: the unit decoders of the storage pipeline on arbitrary bytes.
//
// Input: byte 0 chooses the work: bits 0-2 the cipher mode (5-7 are not modes and must be refused
// or handled cleanly), bits 3-4 the cipher (0 "Blowfish", 1 "Twofish", 2 "Gost", 3 none: the zlib
// unit decoder only), bit 5 the buffer operation instead of the stream one; byte 1 (bits 0-5) is
// the key length, then come the key bytes and the payload. The payload is decoded as a stored
// zlib unit, directly and through the compression manager, and decrypted with the chosen cipher.
// Each decoding that succeeds must round-trip: a decoded unit compressed again decodes to the same
// bytes, and a decrypted payload encrypted again gives the payload back (encryption is a length-
// preserving bijection). Only the project's exceptions may leave the decoders.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dbengine/pipeline/compress_zlib.h"
#include "dbengine/pipeline/data_process_mgr.h"
#include "dbengine/format/db_error.h"
#include "platform/exception.h"
#include "platform/stream.h"

namespace {

using namespace zq;

constexpr const char* kCiphers[] = {"Blowfish", "Twofish", "Gost"};

TMemoryStream StreamOf(const uint8_t* data, size_t size) {
  TMemoryStream s;
  if (size > 0) s.WriteBuffer(data, static_cast<int64_t>(size));
  s.SetPosition(0);
  return s;
}

std::vector<uint8_t> BytesOf(TMemoryStream& s) {
  const auto* p = s.Memory();
  return std::vector<uint8_t>(p, p + s.Size());
}

void CheckMessage(const zq::Exception& e) {
  if (e.Message().empty()) std::abort();  // every failure says why
}

// The zlib unit decoder, on its own and through the compression manager; both must agree.
void DecodeUnit(const uint8_t* data, size_t size, uint8_t level) {
  std::vector<uint8_t> direct;
  bool direct_ok = false;
  try {
    TCompAlgo_Zlib zlib(nullptr);
    TMemoryStream source = StreamOf(data, size), destination;
    zlib.DecodeStream(source, destination, -1);
    if (destination.Position() != 0) std::abort();
    direct = BytesOf(destination);
    direct_ok = true;
  } catch (const zq::Exception& e) {
    CheckMessage(e);
  }

  try {
    TCompressMgr mgr(nullptr);
    mgr.SetAlgoName("ZLIB");
    TMemoryStream source = StreamOf(data, size);
    mgr.DecodeStream(source, source, -1);  // in place, as the file layer may do
    if (!direct_ok) std::abort();           // the manager accepted what the decoder refused
    if (BytesOf(source) != direct) std::abort();
  } catch (const zq::Exception& e) {
    CheckMessage(e);
    if (direct_ok) std::abort();  // the decoder accepted what the manager refused
  }
  if (!direct_ok) return;

  // Round trip of the decoded bytes.
  TCompAlgo_Zlib zlib(nullptr);
  zlib.SetLevel(level & 3);
  TMemoryStream plain = StreamOf(direct.data(), direct.size()), unit, back;
  zlib.EncodeStream(plain, unit, -1);
  unit.SetPosition(0);
  zlib.DecodeStream(unit, back, -1);
  if (BytesOf(back) != direct) std::abort();
}

void DecryptPayload(const char* cipher, uint8_t mode, const std::string& key, const uint8_t* data,
                    size_t size, bool buffer_operation) {
  TEncryptMgr mgr(nullptr);
  std::vector<uint8_t> plain;
  try {
    mgr.SetAlgoName(cipher);
    mgr.SetMode(mode);
    mgr.InitKey(key);
    if (buffer_operation) {
      plain.assign(data, data + size);
      mgr.DecodeBuffer(plain.data(), plain.data(), static_cast<int64_t>(size));
    } else {
      TMemoryStream source = StreamOf(data, size), destination;
      mgr.DecodeStream(source, destination, -1);
      plain = BytesOf(destination);
    }
  } catch (const zq::Exception& e) {
    CheckMessage(e);
    return;
  }
  if (plain.size() != size) std::abort();
  // Encrypting the result gives the payload back, whichever operation decrypted it.
  std::vector<uint8_t> again(size);
  TMemoryStream source = StreamOf(plain.data(), plain.size()), destination;
  mgr.EncodeStream(source, destination, -1);
  again = BytesOf(destination);
  if (size > 0 && std::memcmp(again.data(), data, size) != 0) std::abort();
  if (again.size() != size) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t options = data[0];
  const size_t key_length = std::min<size_t>(data[1] & 63, size - 2);
  const std::string key(reinterpret_cast<const char*>(data + 2), key_length);
  const uint8_t* payload = data + 2 + key_length;
  const size_t payload_size = size - 2 - key_length;

  DecodeUnit(payload, payload_size, options);
  const int cipher = (options >> 3) & 3;
  if (cipher < 3) {
    DecryptPayload(kCiphers[cipher], options & 7, key, payload, payload_size, (options & 0x20) != 0);
  }
  return 0;
}

// The buffer-wide cipher and the raw deflate decoder of archive entries (ISA-L or zlib, whichever the build has): the exact
// bytes for any split of input and output, corrupt data refused, input behind the end left alone.
#include <gtest/gtest.h>

#include <random>

#include "tests/zip/zip_test_util.h"
#include "zip/zip_crypto.h"
#include "zip/zip_inflater.h"

namespace zq {
namespace {

// Decodes packed fed in pieces of in_step bytes into an output window of out_step bytes.
std::string Decode(const std::string& packed, size_t in_step, size_t out_step, bool& error, bool& ended) {
  TZipInflater inflater;
  std::string result;
  std::vector<uint8_t> window(out_step);
  error = ended = false;
  size_t fed = 0;
  while (fed < packed.size() && !error && !ended) {
    size_t piece = std::min(in_step, packed.size() - fed);
    const uint8_t* in = reinterpret_cast<const uint8_t*>(packed.data()) + fed;
    size_t in_left = piece;
    for (int guard = 0; guard < 1000000; ++guard) {
      uint8_t* out = window.data();
      size_t out_left = window.size();
      const size_t before = in_left;
      TZipInflater::Result r = inflater.Inflate(in, in_left, out, out_left);
      result.append(reinterpret_cast<char*>(window.data()), window.size() - out_left);
      if (r == TZipInflater::Result::kError) error = true;
      if (r == TZipInflater::Result::kEnd) ended = true;
      if (error || ended || (in_left == 0 && out_left != 0) || (out_left == window.size() && in_left == before)) break;
    }
    fed += piece - in_left;
    if (in_left == piece && !ended && !error) fed += piece;  // nothing taken: avoid spinning
  }
  return result;
}

TEST(ZipInflater, ExactBytesForAnySplit) {
  std::mt19937 rng(4242);
  std::cout << "seed 4242, engine " << TZipInflater::Engine() << "\n";
  std::string text, noise, runs;
  for (int i = 0; i < 300000; ++i) text += "lorem ipsum dolor sit amet "[rng() % 27];
  for (int i = 0; i < 200000; ++i) noise += static_cast<char>(rng());
  runs.assign(500000, '\0');
  for (int i = 0; i < 100; ++i) runs[rng() % runs.size()] = static_cast<char>(rng());
  struct Split {
    size_t in, out;
  };
  for (const std::string* data : {&text, &noise, &runs}) {
    for (int level : {0, 1, 6, 9}) {
      std::string packed = test::RawDeflate(*data, level);
      for (Split split : {Split{packed.size(), 1 << 18}, Split{1, 1 << 18}, Split{4096, 1}, Split{7, 100},
                          Split{1 << 20, 333}}) {
        SCOPED_TRACE(::testing::Message() << "level " << level << " in " << split.in << " out " << split.out
                                          << " size " << data->size());
        bool error = false, ended = false;
        std::string out = Decode(packed, split.in, split.out, error, ended);
        EXPECT_FALSE(error);
        EXPECT_TRUE(out == *data);
      }
    }
  }
}

TEST(ZipInflater, CorruptDataIsRefused) {
  // Block type 3 does not exist; a distance before the start of the output is refused too.
  const std::string bad_type("\x07\x00", 2);
  bool error = false, ended = false;
  Decode(bad_type, 2, 1024, error, ended);
  EXPECT_TRUE(error);
  // A fixed-Huffman block whose first code is a match of distance 1 with no output before it.
  const std::string far_back("\x03\x02\x00", 3);
  Decode(far_back, 3, 1024, error, ended);
  EXPECT_TRUE(error);
}

// An entry whose data runs on behind the end of the deflate stream: up to three bytes are let
// be, four or more make the entry fail, whichever decoder the build has.
TEST(ZipInflater, BytesBehindTheStreamInAnEntry) {
  for (size_t garbage : {0u, 1u, 3u, 4u, 16u}) {
    SCOPED_TRACE(garbage);
    test::RawZip zip;
    std::string data(5000, 'q');
    zip.entries.push_back({.name = "g.txt", .data = data, .packed_override = test::RawDeflate(data) + std::string(garbage, 'G')});
    char pattern[] = "/tmp/zqinflate-XXXXXX";
    std::string dir = ::mkdtemp(pattern);
    test::WriteFile(dir + "/g.zip", zip.Build());
    TZipArchiver a;
    a.SetFileName(dir + "/g.zip");
    a.SetBaseDir(dir + "/out");
    a.Open();
    std::vector<int> natives;
    a.OnProcessFileFailure = [&](TZipBaseArchiver*, const std::string&, TZipProcessOperation, int native, int,
                                 const std::string&, TZipAction&) { natives.push_back(native); };
    a.ExtractMatching();
    a.Close();
    if (garbage >= 4) {
      EXPECT_EQ(natives, std::vector<int>{8});
    } else {
      EXPECT_TRUE(natives.empty());
      EXPECT_EQ(test::ReadFile(dir + "/out/g.txt"), data);
    }
    std::filesystem::remove_all(dir);
  }
}

// The cipher over whole buffers gives the bytes of the byte-by-byte cipher, split anywhere.
TEST(ZipCryptoBuffers, SameBytesAsByteByByte) {
  std::mt19937 rng(77);
  std::cout << "seed 77\n";
  for (int round = 0; round < 20; ++round) {
    std::string password(rng() % 12, '\0');
    for (char& c : password) c = static_cast<char>(rng());
    std::vector<uint8_t> plain(rng() % 5000);
    for (uint8_t& b : plain) b = static_cast<uint8_t>(rng());
    TZipCrypto by_byte(password), by_buffer(password);
    std::vector<uint8_t> expected(plain.size()), cipher = plain;
    for (size_t i = 0; i < plain.size(); ++i) expected[i] = by_byte.EncryptByte(plain[i]);
    for (size_t at = 0; at < cipher.size();) {
      size_t n = std::min<size_t>(cipher.size() - at, rng() % 700);
      by_buffer.Encrypt(cipher.data() + at, n);
      at += n;
    }
    ASSERT_EQ(cipher, expected) << round;
    TZipCrypto back_by_byte(password), back_by_buffer(password);
    std::vector<uint8_t> decrypted = cipher;
    back_by_buffer.Decrypt(decrypted.data(), decrypted.size());
    EXPECT_EQ(decrypted, plain) << round;
    for (size_t i = 0; i < cipher.size(); ++i) ASSERT_EQ(back_by_byte.DecryptByte(cipher[i]), plain[i]);
  }
}

}  // namespace
}  // namespace zq

// The registries and the compression and encryption managers: lookup by name, keeping the
// algorithm object, "General error" without one, stream operations equal to buffer operations,
// progress sequences and their delivery to the file owner, and the password check text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "dbengine/pipeline/algo_registry.h"
#include "dbengine/pipeline/compress_zlib.h"
#include "dbengine/crypto/encrypt_exception.h"
#include "dbengine/pipeline/data_process_mgr.h"
#include "dbengine/format/db_error.h"
#include "dbengine/storage/db_file_io.h"
#include "dbengine/pipeline/encrypt_algo.h"
#include "dbengine/pipeline/pipeline_progress.h"
#include "tests/dbengine/engine_test_support.h"

namespace zq {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Random(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  Bytes v(n);
  for (auto& b : v) b = static_cast<uint8_t>(gen());
  return v;
}

TMemoryStream Stream(const Bytes& b) {
  TMemoryStream s;
  if (!b.empty()) s.WriteBuffer(b.data(), static_cast<int64_t>(b.size()));
  s.SetPosition(0);
  return s;
}

TEST(AlgoRegistry, BuiltInAlgorithmsInOrder) {
  ASSERT_GE(CompressRegistry().Count(), 1);
  EXPECT_EQ(CompressRegistry().At(0).Name, "ZLIB");
  EXPECT_EQ(CompressRegistry().At(0).Class, &TCompAlgo_Zlib::kClass);
  ASSERT_GE(EncryptRegistry().Count(), 3);
  EXPECT_EQ(EncryptRegistry().At(0).Name, "Blowfish");
  EXPECT_EQ(EncryptRegistry().At(1).Name, "Twofish");
  EXPECT_EQ(EncryptRegistry().At(2).Name, "Gost");
  EXPECT_EQ(EncryptRegistry().IndexOf("gOsT"), 2);
  EXPECT_EQ(EncryptRegistry().IndexOf("Gost2"), -1);
  EXPECT_EQ(CompressRegistry().IndexOf("zlib"), 0);
}

TEST(AlgoRegistry, RegisteringAKnownClassReplacesItsNameANewOneIsAppended) {
  TAlgoRegistry r;
  r.Register(TEncAlgo_Blowfish::kClass, "A");
  r.Register(TEncAlgo_Gost::kClass, "B");
  r.Register(TEncAlgo_Blowfish::kClass, "C");
  ASSERT_EQ(r.Count(), 2);
  EXPECT_EQ(r.At(0).Name, "C");
  EXPECT_EQ(r.At(0).Class, &TEncAlgo_Blowfish::kClass);
  EXPECT_EQ(r.IndexOf("A"), -1);
  // First match wins when two classes carry the same name.
  r.Register(TEncAlgo_Twofish::kClass, "c");
  EXPECT_EQ(r.IndexOf("C"), 0);
}

TEST(AlgoRegistry, ProcessRegistryRename) {
  RegisterEncryptClass(TEncAlgo_Gost::kClass, "GOST28147");
  EXPECT_EQ(EncryptRegistry().IndexOf("Gost"), -1);
  EXPECT_EQ(EncryptRegistry().IndexOf("gost28147"), 2);
  RegisterEncryptClass(TEncAlgo_Gost::kClass, "Gost");
  EXPECT_EQ(EncryptRegistry().IndexOf("Gost"), 2);
  RegisterCompressClass(TCompAlgo_Zlib::kClass, "ZLIB");
  EXPECT_EQ(CompressRegistry().Count(), 1);
}

TEST(Managers, LowerCaseZlibSelectsTheZlibAlgorithm) {
  TCompressMgr mgr(nullptr);
  EXPECT_EQ(mgr.CheckAlgoName("zlib"), 0);
  mgr.SetAlgoName("zlib");
  ASSERT_NE(mgr.Algo(), nullptr);
  EXPECT_EQ(&mgr.Algo()->AlgoClass(), &TCompAlgo_Zlib::kClass);
  EXPECT_EQ(mgr.CompressAlgo()->GetLevel(), 1);
}

TEST(Managers, UnknownNamesAreRefused) {
  TCompressMgr c(nullptr);
  TEncryptMgr e(nullptr);
  EXPECT_EQ(testing_support::ErrorOf<EDatabaseError>([&] { c.SetAlgoName("LZMA"); }), "Compression algorithm module 'LZMA' not found");
  EXPECT_EQ(testing_support::ErrorOf<EDatabaseError>([&] { e.SetAlgoName("Rijndael"); }),
            "Encryption algorithm module 'Rijndael' not found");
  EXPECT_EQ(c.Algo(), nullptr);
  EXPECT_EQ(e.Algo(), nullptr);
}

TEST(Managers, GeneralErrorWithoutAlgorithm) {
  TCompressMgr c(nullptr);
  TEncryptMgr e(nullptr);
  TMemoryStream a, b;
  Bytes buf(8);
  EXPECT_EQ(testing_support::ErrorOf<EDatabaseError>([&] { c.EncodeStream(a, b, -1); }), "General error");
  EXPECT_EQ(testing_support::ErrorOf<EDatabaseError>([&] { c.DecodeStream(a, b, -1); }), "General error");
  EXPECT_EQ(testing_support::ErrorOf<EDatabaseError>([&] { e.EncodeStream(a, b, -1); }), "General error");
  EXPECT_EQ(testing_support::ErrorOf<EDatabaseError>([&] { e.DecodeStream(a, b, -1); }), "General error");
  EXPECT_EQ(testing_support::ErrorOf<EDatabaseError>([&] { e.EncodeBuffer(buf.data(), buf.data(), 8); }), "General error");
  EXPECT_EQ(testing_support::ErrorOf<EDatabaseError>([&] { e.DecodeBuffer(buf.data(), buf.data(), 8); }), "General error");
  EXPECT_EQ(testing_support::ErrorOf<EDatabaseError>([&] { e.SetMode(1); }), "General error");
  EXPECT_EQ(testing_support::ErrorOf<EDatabaseError>([&] { e.InitKey("x"); }), "General error");
  EXPECT_EQ(testing_support::ErrorOf<EDatabaseError>([&] { e.Done(); }), "General error");
}

TEST(Managers, SameNameTwiceKeepsObjectAndKeyAnotherClassReplacesIt) {
  TEncryptMgr e(nullptr);
  e.SetAlgoName("Blowfish");
  e.SetMode(1);
  e.InitKey("secret");
  TDataProcessAlgo* first = e.Algo();
  Bytes plain = Random(64, 1), enc1(64), enc2(64);
  e.EncodeBuffer(plain.data(), enc1.data(), 64);
  e.SetAlgoName("BLOWFISH");
  EXPECT_EQ(e.Algo(), first);
  EXPECT_EQ(e.EncryptAlgo()->GetMode(), 1);
  e.EncodeBuffer(plain.data(), enc2.data(), 64);  // still keyed
  EXPECT_EQ(enc1, enc2);
  e.SetAlgoName("Gost");
  EXPECT_NE(&e.Algo()->AlgoClass(), &TEncAlgo_Blowfish::kClass);
  EXPECT_EQ(e.EncryptAlgo()->GetMode(), 0);
  EXPECT_THROW(e.EncodeBuffer(plain.data(), enc2.data(), 64), EEncryptException);
}

TEST(Managers, UnkeyedEncryptionRaisesCode3) {
  TEncryptMgr e(nullptr);
  e.SetAlgoName("Twofish");
  Bytes buf(32);
  try {
    e.EncodeBuffer(buf.data(), buf.data(), 32);
    FAIL();
  } catch (const EEncryptException& ex) {
    EXPECT_EQ(ex.ErrorCode(), 3);
    EXPECT_EQ(ex.Message(), "TEnc_Twofish is not initialized call Init() or InitKey() before.");
  }
}

// A stream of any length is transformed exactly as one buffer operation over the whole, and each
// operation starts again from the vector.
TEST(Managers, StreamEncryptionEqualsOneBufferOperation) {
  for (const char* name : {"Blowfish", "Twofish", "Gost"}) {
    for (uint8_t mode = 0; mode <= 4; ++mode) {
      TEncryptMgr e(nullptr);
      e.SetAlgoName(name);
      e.SetMode(mode);
      e.InitKey("pw");
      for (size_t n : {0u, 1u, 15u, 4095u, 4096u, 4097u, 10000u, 12289u}) {
        Bytes plain = Random(n, static_cast<uint32_t>(n) + mode);
        Bytes whole(n);
        e.EncodeBuffer(plain.data(), whole.data(), static_cast<int64_t>(n));
        TMemoryStream src = Stream(plain), dst;
        e.EncodeStream(src, dst, -1);
        EXPECT_EQ(dst.Bytes(), whole) << name << " " << int(mode) << " " << n;
        TMemoryStream back;
        dst.SetPosition(0);
        e.DecodeStream(dst, back, dst.Size());
        EXPECT_EQ(back.Bytes(), plain) << name << " " << int(mode) << " " << n;
        // In place.
        TMemoryStream inplace = Stream(plain);
        e.EncodeStream(inplace, inplace, -1);
        EXPECT_EQ(inplace.Bytes(), whole);
      }
    }
  }
}

TEST(Managers, EncryptionProgressSequenceBothDirections) {
  TEncryptMgr e(nullptr);
  e.SetAlgoName("Blowfish");
  e.SetMode(1);
  e.InitKey("pw");
  std::vector<int> enc, dec;
  e.Algo()->OnEncodeProgress = [&](TPipelineOwner*, int p) { enc.push_back(p); };
  e.Algo()->OnDecodeProgress = [&](TPipelineOwner*, int p) { dec.push_back(p); };
  TMemoryStream src = Stream(Random(10000, 2)), dst, back;
  e.EncodeStream(src, dst, -1);
  dst.SetPosition(0);
  e.DecodeStream(dst, back, -1);
  EXPECT_EQ(enc, (std::vector<int>{0, 41, 82, 100, 0}));
  EXPECT_EQ(dec, (std::vector<int>{0, 41, 82, 100, 0}));
  // An empty stream reports 0 twice.
  enc.clear();
  TMemoryStream empty, out;
  e.EncodeStream(empty, out, -1);
  EXPECT_EQ(enc, (std::vector<int>{0, 0}));
}

TEST(Managers, ProgressReturnsToZeroOnFailure) {
  TEncryptMgr e(nullptr);
  e.SetAlgoName("Gost");  // no key
  std::vector<int> enc;
  e.Algo()->OnEncodeProgress = [&](TPipelineOwner*, int p) { enc.push_back(p); };
  TMemoryStream src = Stream(Random(5000, 3)), dst;
  EXPECT_THROW(e.EncodeStream(src, dst, -1), EEncryptException);
  EXPECT_EQ(enc, (std::vector<int>{0, 0}));
}

// The pipeline needs nothing of its owner but the progress target: a manager works under any
// TPipelineOwner, and an owner without a target gets no reports and no failure.
class TargetOnlyOwner : public TPipelineOwner, public TPipelineProgressTarget {
 public:
  TPipelineProgressTarget* ProgressTarget() const override { return listening ? target : nullptr; }
  void PipelineProgress(TPipelineOperation op, int percent) override { events.emplace_back(op, percent); }
  bool listening = true;
  TPipelineProgressTarget* target = this;
  std::vector<std::pair<TPipelineOperation, int>> events;
};

TEST(Managers, ProgressGoesToThePipelineOwnersTarget) {
  TargetOnlyOwner owner;
  TEncryptMgr e(&owner);
  e.SetAlgoName("Twofish");
  e.InitKey("pw");
  EXPECT_EQ(e.Owner(), &owner);
  EXPECT_EQ(e.Algo()->Owner(), &owner);
  TMemoryStream src = Stream(Random(5000, 5)), dst, back;
  e.EncodeStream(src, dst, -1);
  using Op = TPipelineOperation;
  std::vector<std::pair<Op, int>> expected = {{Op::Encrypt, 0}, {Op::Encrypt, 82}, {Op::Encrypt, 100},
                                              {Op::Encrypt, 0}};
  EXPECT_EQ(owner.events, expected);
  owner.events.clear();
  owner.listening = false;
  dst.SetPosition(0);
  e.DecodeStream(dst, back, -1);
  EXPECT_TRUE(owner.events.empty());
  EXPECT_EQ(back.Size(), src.Size());
}

// The owner of a file access object receives the progress of its managers' algorithms.
class ProgressOwner : public TDbFileOwner, public TPipelineProgressTarget {
 public:
  TDbMediumType MediumType() const override { return mtMemory; }
  bool Exclusive() const override { return false; }
  int32_t LockRetryCount() const override { return 1; }
  int32_t LockWaitTime() const override { return 0; }
  TDbFileIO* FileIO() override { return nullptr; }
  void PipelineProgress(TPipelineOperation op, int percent) override { events.emplace_back(op, percent); }
  std::vector<std::pair<TPipelineOperation, int>> events;
};

TEST(Managers, ProgressReachesTheFileOwner) {
  ProgressOwner owner;
  TDbFileIO io(&owner);
  io.EncryptMgr().SetAlgoName("Blowfish");
  io.EncryptMgr().InitKey("pw");
  io.CompressMgr().SetAlgoName("ZLIB");
  TMemoryStream src = Stream(Random(5000, 4)), dst, back;
  io.EncryptMgr().EncodeStream(src, dst, -1);
  dst.SetPosition(0);
  io.EncryptMgr().DecodeStream(dst, back, -1);
  using Op = TPipelineOperation;
  std::vector<std::pair<Op, int>> expected = {{Op::Encrypt, 0},  {Op::Encrypt, 82},  {Op::Encrypt, 100},
                                              {Op::Encrypt, 0},  {Op::Decrypt, 0},   {Op::Decrypt, 82},
                                              {Op::Decrypt, 100}, {Op::Decrypt, 0}};
  EXPECT_EQ(owner.events, expected);
  owner.events.clear();
  TMemoryStream unit = Stream(Bytes(100000, 'z'));
  TMemoryStream packed, plain;
  io.CompressMgr().EncodeStream(unit, packed, -1);
  io.CompressMgr().DecodeStream(packed, plain, -1);
  ASSERT_EQ(owner.events.size(), 1u);  // a small unit: one input piece, no full output buffer
  // The compressed bytes of that piece against the unit's size: the 4-byte size field is not one.
  ASSERT_LT(packed.Size(), 400);
  // Computed here in floating point, rounded to nearest with ties to even, not by the engine's own
  // integer routine.
  const int expected_percent =
      static_cast<int>(std::nearbyint(static_cast<long double>(packed.Size() - 4) * 100 / packed.Size()));
  EXPECT_EQ(owner.events[0], std::make_pair(Op::Uncompress, expected_percent));
  EXPECT_LT(owner.events[0].second, 100);
  EXPECT_EQ(plain.Size(), 100000);
}

TEST(PasswordCheckText, EmptyPasswordAndLetterCase) {
  EXPECT_EQ(PipelinePasswordCheckText(""), "+WzqGYrR3VYXrAhKPZLGEHcIwO8=");
  EXPECT_NE(PipelinePasswordCheckText("Secret"), PipelinePasswordCheckText("secret"));
  // At most 27 characters and "=" for a 20-byte digest.
  for (const char* pw : {"a", "abc", "Passw0rd", "a much longer password than usual"}) {
    std::string t = PipelinePasswordCheckText(pw);
    EXPECT_LE(t.size(), 28u);
    EXPECT_EQ(t.back(), '=');
  }
}

}  // namespace
}  // namespace zq

#include "dbengine/pipeline/encrypt_algo.h"

#include "dbengine/crypto/enc_blowfish.h"
#include "dbengine/crypto/enc_gost.h"
#include "dbengine/crypto/enc_twofish.h"

namespace zq {

namespace {
template <class Algo>
std::unique_ptr<TDataProcessAlgo> Create(TPipelineOwner* owner) {
  return std::make_unique<Algo>(owner);
}
}  // namespace

const TDataProcessAlgoClass TEncAlgo_Blowfish::kClass{"TEncAlgo_Blowfish", &Create<TEncAlgo_Blowfish>};
const TDataProcessAlgoClass TEncAlgo_Twofish::kClass{"TEncAlgo_Twofish", &Create<TEncAlgo_Twofish>};
const TDataProcessAlgoClass TEncAlgo_Gost::kClass{"TEncAlgo_Gost", &Create<TEncAlgo_Gost>};

TEncAlgo_Blowfish::TEncAlgo_Blowfish(TPipelineOwner* owner)
    : TEncAlgo_Base(owner, std::make_unique<TEnc_Blowfish>()) {}
TEncAlgo_Twofish::TEncAlgo_Twofish(TPipelineOwner* owner)
    : TEncAlgo_Base(owner, std::make_unique<TEnc_Twofish>()) {}
TEncAlgo_Gost::TEncAlgo_Gost(TPipelineOwner* owner) : TEncAlgo_Base(owner, std::make_unique<TEnc_Gost>()) {}

}  // namespace zq

#include "host/RunningGame.h"

#include "codepatch/call_gate.h"
#include "host/HostBuild.h"

namespace {

class RunningGame final : public LoadedImage {
public:
    RunningGame() : LoadedImage(GetHostImageBase(), GetHostImageSize()) {}
    bool EarlierGate(std::uint32_t site, std::uint32_t destination) const override {
        const codepatch::call_gate* gate = codepatch::existing_call_gate(codepatch::patch_address(site));
        return gate && destination == codepatch::gate_address(*gate);
    }
};

}  // namespace

host::GameCheck CheckRunningGame() {
    return host::CheckGame(RunningGame());
}

host::FrameSiteCheck CheckRunningFrameSite() {
    return host::CheckFrameSite(RunningGame(), GetHostBuild());
}

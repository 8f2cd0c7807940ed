#include "host/RunningGame.h"

#include "codepatch/gate_registry.h"
#include "host/HostBuild.h"

namespace {

class RunningGame final : public LoadedImage {
public:
    explicit RunningGame(const codepatch::gate_registry& gates)
        : LoadedImage(GetHostImageBase(), GetHostImageSize()), gates_(gates) {}
    bool EarlierGate(std::uint32_t site, std::uint32_t destination) const override {
        const codepatch::call_gate* gate = gates_.existing(codepatch::patch_address(site));
        return gate && destination == codepatch::gate_address(*gate);
    }

private:
    const codepatch::gate_registry& gates_;
};

}  // namespace

host::GameCheck CheckRunningGame(const codepatch::gate_registry& gates) {
    return host::CheckGame(RunningGame(gates));
}

host::FrameSiteCheck CheckRunningFrameSite(const codepatch::gate_registry& gates) {
    return host::CheckFrameSite(RunningGame(gates), GetHostBuild());
}

// A settings file applied to the host: its values into the host's data words,
// the constant in the host's code, the host's aim block and the plugin's own
// record, and put back on frames that do not read the file.
#pragma once

#include <cstdint>

#include "plugin/AimSettings.h"
#include "settings/SettingsFile.h"

class HostSettings {
public:
    // Writes every value `file` gives into its destination, the host's and
    // `record`'s; a destination the file does not give keeps its value, and
    // so does host memory that is not writable. What the last Apply wrote is
    // forgotten.
    void Apply(const settings::SettingsFile& file, AimSettings& record);
    // A load that read no file: there is nothing to put back.
    void Forget() { *this = HostSettings{}; }
    // Puts back into the host what the last Apply wrote, with plain stores;
    // the code constant only where its bytes differ, so that an unchanged
    // frame lifts no protection. The host then holds what reading the file
    // again would give.
    void Reapply(const AimSettings& record) const;

    // What the last Apply found not writable, and so left alone.
    bool HostValueSkipped(int index) const { return hostValueSkipped_[index]; }
    bool CodeConstantSkipped() const { return codeConstantSkipped_; }
    bool AimBlockSkipped() const { return aimBlockSkipped_; }

private:
    bool hostValueSkipped_[settings::kHostValueCount] = {};
    bool codeConstantSkipped_ = false;
    bool aimBlockSkipped_ = false;
    // What was written, to be put back.
    bool hostValue_[settings::kHostValueCount] = {};
    float hostValues_[settings::kHostValueCount] = {};
    bool codeConstant_ = false;
    std::uint32_t codeBits_ = 0;
    bool aim_[settings::kAimRowCount][settings::kAimRowLength] = {};  // values in AimSettings::aimRows
    bool anyAim_ = false;
};

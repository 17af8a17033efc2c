#pragma once
// `raidctl make-bin`: the "Make Bin" window's image builder without the
// window. The same table, settings and filler seed give the same bytes.
#include <optional>
#include <string>
#include <vector>

#include "cli/raidctl_commands.h"
#include "image_builder/image_builder.h"
#include "image_builder/sub_code_table.h"

namespace raid::cli {

struct MakeBinRequest {
    tools::SubCodeTable table;
    tools::BuilderSettings settings;
    tools::SettingTexts settingTexts{"1", "2000", "1", "50"};
};

// The table and settings that make-bin's options describe, read by the
// window's rules (file names, number texts); none after saying why in
// `error`.
std::optional<MakeBinRequest> ReadMakeBinOptions(const Arguments& args, std::string& error);

// 0 when the image was saved; 1 for options that are not valid; 5 when the
// builder refused (nothing written); 3 when the image cannot be written.
int RunMakeBin(Context& ctx, const Arguments& args);

}  // namespace raid::cli

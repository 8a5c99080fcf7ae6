#pragma once
// A saved form for design time: the property bags of the controls placed on it, each in a
// block named by the control's ProgID and its name:
//
//   Begin Carvo.DownLoad dl1
//       _ExtentX = Long 847
//       URL = String "http://127.0.0.1/setup.exe"
//   End
//
// Inside a block the lines are a TextPropertyBag's; blank lines and lines starting with "#"
// between blocks are skipped.

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "automation/PropertyBag.h"

namespace carvo {

struct FormControl {
    std::string progId;
    std::string name;
    TextPropertyBag bag;
};

class FormFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct FormFile {
    std::vector<FormControl> controls;

    std::string serialize() const;
    // Throws FormFileError naming the line for a block that is not closed, an End without a
    // Begin, a Begin without a ProgID and a name, or a name used twice.
    static FormFile parse(std::string_view text);

    // load throws FormFileError too when the file cannot be read; save replaces the file
    // atomically (throws std::system_error).
    static FormFile load(const std::filesystem::path& path);
    void save(const std::filesystem::path& path) const;
};

}  // namespace carvo

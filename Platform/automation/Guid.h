#pragma once
// A class or interface identifier, printed and parsed in registry form
// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <carvo/CarvoExport.h>

namespace carvo {

struct CARVO_API Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};

    // Accepts the registry form with or without braces, hex digits in either case.
    static std::optional<Guid> parse(std::string_view text);
    // Parses a literal known to be valid (the type-library table); aborts the build otherwise.
    static Guid fromString(std::string_view text);
    std::string toString() const;  // upper case, with braces

    auto operator<=>(const Guid&) const = default;
};

}  // namespace carvo

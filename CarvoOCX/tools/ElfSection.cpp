#include "tools/ElfSection.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace carvo {

namespace {

class ElfFile {
  public:
    explicit ElfFile(const std::filesystem::path& path) : path_(path), in_(path, std::ios::binary) {
        if (!in_) throw std::runtime_error("cannot read " + path.string());
        in_.seekg(0, std::ios::end);
        size_ = static_cast<std::uint64_t>(in_.tellg());
    }

    // Bytes [offset, offset + count) of the file; throws when they lie outside it.
    std::string bytes(std::uint64_t offset, std::uint64_t count) {
        if (offset > size_ || count > size_ - offset) fail("points outside the file");
        std::string out(static_cast<std::size_t>(count), '\0');
        in_.seekg(static_cast<std::streamoff>(offset));
        if (!in_.read(out.data(), static_cast<std::streamsize>(count))) fail("cannot be read");
        return out;
    }

    [[noreturn]] void fail(const std::string& why) const {
        throw std::runtime_error(path_.string() + ": not a well-formed ELF file (" + why + ")");
    }

  private:
    std::filesystem::path path_;
    std::ifstream in_;
    std::uint64_t size_ = 0;
};

template <typename T>
T as(const std::string& raw, std::size_t at = 0) {
    T v;
    std::memcpy(&v, raw.data() + at, sizeof v);
    return v;
}

template <typename Ehdr, typename Shdr>
std::optional<std::string> find(ElfFile& f, std::string_view name) {
    const auto eh = as<Ehdr>(f.bytes(0, sizeof(Ehdr)));
    if (eh.e_shentsize != sizeof(Shdr)) f.fail("odd section header size");
    if (eh.e_shnum == 0) return std::nullopt;
    if (eh.e_shstrndx >= eh.e_shnum) f.fail("no section names");
    const std::string table = f.bytes(eh.e_shoff, std::uint64_t{eh.e_shnum} * sizeof(Shdr));
    const auto names = as<Shdr>(table, std::size_t{eh.e_shstrndx} * sizeof(Shdr));
    const std::string nameBytes = f.bytes(names.sh_offset, names.sh_size);
    for (std::size_t i = 0; i < eh.e_shnum; ++i) {
        const auto sh = as<Shdr>(table, i * sizeof(Shdr));
        if (sh.sh_name >= nameBytes.size()) f.fail("section name outside its table");
        const char* start = nameBytes.data() + sh.sh_name;
        std::string_view found(start, strnlen(start, nameBytes.size() - sh.sh_name));
        if (found != name) continue;
        if (sh.sh_type == SHT_NOBITS) return std::string();
        return f.bytes(sh.sh_offset, sh.sh_size);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> readElfSection(const std::filesystem::path& file,
                                          std::string_view name) {
    ElfFile f(file);
    const std::string ident = f.bytes(0, EI_NIDENT);
    if (std::memcmp(ident.data(), ELFMAG, SELFMAG) != 0) f.fail("no ELF signature");
    if (ident[EI_DATA] != ELFDATA2LSB) f.fail("not little-endian");
    if (ident[EI_CLASS] == ELFCLASS64) return find<Elf64_Ehdr, Elf64_Shdr>(f, name);
    if (ident[EI_CLASS] == ELFCLASS32) return find<Elf32_Ehdr, Elf32_Shdr>(f, name);
    f.fail("unknown class");
}

}  // namespace carvo

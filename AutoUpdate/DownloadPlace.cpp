#include "DownloadPlace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <cerrno>
#include <cstdlib>

#include "SingleInstanceLock.h"
#include "win/UniqueFd.h"

namespace fs = std::filesystem;

namespace veltrup {

namespace {

constexpr const char* kPlantedText =
    "A pasta onde o programa guarda os arquivos de atualização não pode ser usada: ela pertence "
    "a outro usuário, está aberta a outros usuários ou é um atalho (%1).";
constexpr const char* kPlantedAdvice =
    "Apague ou renomeie essa pasta e clique o botão 'Avançar' para tentar novamente.";
constexpr const char* kCannotWriteText =
    "Não foi possível gravar os arquivos de atualização na pasta %1.";
constexpr const char* kCannotWriteAdvice =
    "Verifique o espaço livre no disco e as permissões da pasta, e clique o botão 'Avançar' para "
    "tentar novamente.";

std::string withPath(const char* text, const std::string& path) {
    std::string s = text;
    s.replace(s.find("%1"), 2, path);
    return s;
}

FolderFailure plantedFailure(const std::string& folder) {
    return {"Erro:", withPath(kPlantedText, folder), kPlantedAdvice};
}

// The desktop's cache folder: $XDG_CACHE_HOME (a relative one is to be ignored), else
// ~/.cache.
fs::path cacheHome(uid_t uid, const CachePlaces& places) {
    if (places.cacheHome) return *places.cacheHome;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && xdg[0] == '/') return xdg;
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return fs::path(home) / ".cache";
    const fs::path home = homeOf(uid);
    return home.empty() ? fs::path() : home / ".cache";
}

enum class Made { Ok, Planted, Failed };

// name inside parent: made with mode 0700 when missing, then opened without following a link;
// usable when it is uid's own and closed to others. One that is there is never changed.
Made ownFolderIn(int parent, const std::string& name, uid_t uid, carvo::UniqueFd& out) {
    if (::mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) return Made::Failed;
    carvo::UniqueFd fd(
        ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0) return errno == ELOOP || errno == ENOTDIR ? Made::Planted : Made::Failed;
    if (::fstat(fd.get(), &st) != 0) return Made::Failed;
    if (st.st_uid != uid || (st.st_mode & 077) != 0) return Made::Planted;
    out = std::move(fd);
    return Made::Ok;
}

}  // namespace

bool canWriteIn(const std::string& folder) {
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return false;
    // The mode bits are not the whole story (a full disk, a quota, a server that maps root to
    // nobody): make a file that never gets a name, where the file system has such files.
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    return errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL;
}

std::string productCacheName(const std::string& programFolder) {
    std::string last = fs::path(programFolder).filename().string();
    // Only plain characters of the last name; the digest keeps it unique.
    for (char& c : last)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_' || c == '.'))
            c = '_';
    if (last.empty() || last[0] == '.') last = "produto" + last;
    if (last.size() > 64) last.resize(64);
    const QByteArray digest = QCryptographicHash::hash(QByteArray::fromStdString(programFolder),
                                                       QCryptographicHash::Sha256)
                                  .toHex()
                                  .left(16);
    return last + "-" + digest.toStdString();
}

DownloadPlace chooseDownloadPlace(const std::string& programFolder, uid_t uid,
                                  const CachePlaces& places) {
    if (canWriteIn(programFolder)) return {programFolder, true, std::nullopt};
    return userCachePlace(programFolder, uid, places);
}

DownloadPlace userCachePlace(const std::string& programFolder, uid_t uid,
                             const CachePlaces& places) {
    DownloadPlace place{"", false, std::nullopt};
    const fs::path cache = cacheHome(uid, places);
    const fs::path veltrupFolder = cache / "veltrup";
    const fs::path own = veltrupFolder / productCacheName(programFolder);
    place.folder = own.string();
    if (cache.empty()) {
        place.failure = cannotWriteFailure("~/.cache/veltrup");
        return place;
    }
    // The cache folder itself may be a link (users move it to another disk), but it must be
    // the user's or the system's, and nobody else may write it.
    if (::mkdir(cache.c_str(), 0700) != 0 && errno != EEXIST) {
        place.failure = cannotWriteFailure(cache.string());
        return place;
    }
    const carvo::UniqueFd top(::open(cache.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (top.get() < 0 || ::fstat(top.get(), &st) != 0) {
        place.failure = cannotWriteFailure(cache.string());
        return place;
    }
    if ((st.st_uid != uid && st.st_uid != 0) || (st.st_mode & 022) != 0) {
        place.failure = plantedFailure(cache.string());
        return place;
    }
    const auto made = [&](Made result, const fs::path& path) {
        if (result == Made::Planted) place.failure = plantedFailure(path.string());
        if (result == Made::Failed) place.failure = cannotWriteFailure(path.string());
        return result == Made::Ok;
    };
    carvo::UniqueFd mid(-1), leaf(-1);
    if (!made(ownFolderIn(top.get(), "veltrup", uid, mid), veltrupFolder)) return place;
    if (!made(ownFolderIn(mid.get(), own.filename().string(), uid, leaf), own)) return place;
    return place;
}

FolderFailure cannotWriteFailure(const std::string& folder) {
    return {"Erro:", withPath(kCannotWriteText, folder), kCannotWriteAdvice};
}

}  // namespace veltrup

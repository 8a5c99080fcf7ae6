// The user's own folder for the downloads of a product whose folder is root's: made closed to
// others, one per product, and refused when somebody planted it.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "DownloadPlace.h"
#include "NginxServer.h"

namespace veltrup::test {
namespace {

namespace fs = std::filesystem;

TEST(DownloadPlace, TheUsersCacheHoldsOneClosedFolderPerProduct) {
    carvo::test::ScratchFolder cache("veltrup-cache");
    const uid_t me = ::geteuid();
    const DownloadPlace a = userCachePlace("/opt/parvix-2002", me, {cache.path()});
    const DownloadPlace b = userCachePlace("/srv/parvix-2002", me, {cache.path()});
    ASSERT_FALSE(a.failure) << a.failure->text;
    ASSERT_FALSE(b.failure);
    EXPECT_FALSE(a.inProgramFolder);
    EXPECT_EQ(fs::path(a.folder).parent_path(), cache / "veltrup");
    EXPECT_EQ(fs::path(a.folder).filename().string().rfind("parvix-2002-", 0), 0U);
    EXPECT_NE(a.folder, b.folder);
    for (const fs::path& f : {cache / "veltrup", fs::path(a.folder)}) {
        struct stat st {};
        ASSERT_EQ(::lstat(f.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700U) << f;
    }
    // The same folder again, as it was left.
    EXPECT_EQ(userCachePlace("/opt/parvix-2002", me, {cache.path()}).folder, a.folder);
    // A product folder this process may write keeps its downloads, as always.
    const DownloadPlace own = chooseDownloadPlace(cache.path().string(), me, {cache / "x"});
    EXPECT_TRUE(own.inProgramFolder);
    EXPECT_EQ(own.folder, cache.path().string());
}

TEST(DownloadPlace, RefusesAPlantedFolderWithTextsThatSaySo) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& cache, const fs::path& product)> plant;
        bool needsRoot = false;
    };
    const std::string program = "/opt/parvix-2002";
    const std::vector<Case> cases = {
        {"veltrup/ a link to another folder",
         [](const fs::path& c, const fs::path&) {
             fs::create_directory(c / "elsewhere", c);
             fs::permissions(c / "elsewhere", fs::perms(0700));
             fs::create_directory_symlink(c / "elsewhere", c / "veltrup");
         }},
        {"the product's folder a link",
         [](const fs::path& c, const fs::path& p) {
             fs::create_directory(c / "veltrup");
             fs::permissions(c / "veltrup", fs::perms(0700));
             fs::create_directory_symlink("/tmp", p);
         }},
        {"veltrup/ open to others",
         [](const fs::path& c, const fs::path&) {
             fs::create_directory(c / "veltrup");
             fs::permissions(c / "veltrup", fs::perms(0755));
         }},
        {"the product's folder of another owner",
         [](const fs::path& c, const fs::path& p) {
             fs::create_directory(c / "veltrup");
             fs::permissions(c / "veltrup", fs::perms(0700));
             fs::create_directory(p);
             fs::permissions(p, fs::perms(0700));
             ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0);
         },
         true},
        {"the cache folder writable by others",
         [](const fs::path& c, const fs::path&) { fs::permissions(c, fs::perms(0777)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && ::geteuid() != 0) continue;
        carvo::test::ScratchFolder cache("veltrup-cache");
        const fs::path product = cache / "veltrup" / productCacheName(program);
        c.plant(cache.path(), product);
        const DownloadPlace place = userCachePlace(program, ::geteuid(), {cache.path()});
        ASSERT_TRUE(place.failure);
        EXPECT_NE(place.failure->text.find("não pode ser usada"), std::string::npos);
        EXPECT_EQ(place.failure->text.find("Internet"), std::string::npos);
        EXPECT_NE(place.failure->advice.find("'Avançar'"), std::string::npos);
        // Nothing was changed in what somebody else made.
        if (fs::is_symlink(product)) {
            EXPECT_EQ(fs::read_symlink(product), "/tmp");
        }
    }
}

}  // namespace
}  // namespace veltrup::test

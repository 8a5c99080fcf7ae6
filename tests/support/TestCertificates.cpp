#include "TestCertificates.h"

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "NginxServer.h"

namespace carvo::test {

namespace fs = std::filesystem;

namespace {

void openssl(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/openssl"};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessResult r = runProcess(argv);
    if (r.exitStatus != 0) {
        std::string line;
        for (const auto& a : argv) line += a + " ";
        throw std::runtime_error("openssl failed (" + std::to_string(r.exitStatus) + "): " + line +
                                 "\n" + r.err);
    }
}

}  // namespace

TestCertificates makeTestCertificates(const fs::path& dir) {
    fs::create_directories(dir);
    const fs::path d = fs::absolute(dir);
    TestCertificates out{d / "ca.pem", d / "server.pem", d / "server.key"};
    const std::string caKey = (d / "ca.key").string();
    const std::string csr = (d / "server.csr").string();
    const std::string ext = (d / "server.ext").string();

    // Elliptic-curve keys: made in milliseconds, where RSA keys would slow every test down.
    const std::vector<std::string> ecKey{"-newkey", "ec", "-pkeyopt",
                                         "ec_paramgen_curve:prime256v1", "-nodes"};
    std::vector<std::string> ca{"req", "-x509"};
    ca.insert(ca.end(), ecKey.begin(), ecKey.end());
    ca.insert(ca.end(), {"-keyout", caKey, "-out", out.caFile.string(), "-days", "2", "-subj",
                         "/CN=Carvo Test Authority", "-addext", "basicConstraints=critical,CA:TRUE",
                         "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
    openssl(ca);

    std::vector<std::string> req{"req"};
    req.insert(req.end(), ecKey.begin(), ecKey.end());
    req.insert(req.end(), {"-keyout", out.keyFile.string(), "-out", csr, "-subj", "/CN=127.0.0.1"});
    openssl(req);

    {
        std::ofstream e(ext, std::ios::trunc);
        e << "basicConstraints=CA:FALSE\n"
          << "keyUsage=critical,digitalSignature,keyEncipherment\n"
          << "extendedKeyUsage=serverAuth\n"
          << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
        if (!e) throw std::runtime_error("cannot write " + ext);
    }
    openssl({"x509", "-req", "-in", csr, "-CA", out.caFile.string(), "-CAkey", caKey,
             "-CAcreateserial", "-out", out.certFile.string(), "-days", "2", "-extfile", ext});
    return out;
}

}  // namespace carvo::test

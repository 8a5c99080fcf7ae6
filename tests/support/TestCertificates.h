#pragma once
// A throwaway certificate authority and a server certificate for 127.0.0.1 and localhost,
// made with the openssl command line, for tests that talk TLS to a local server.

#include <filesystem>

namespace carvo::test {

struct TestCertificates {
    std::filesystem::path caFile;    // the authority's certificate (PEM), to trust
    std::filesystem::path certFile;  // the server's certificate (PEM), signed by the authority
    std::filesystem::path keyFile;   // the server's private key (PEM)
};

// Writes ca.pem, server.pem and server.key (and the files used to make them) into dir, which
// is created when missing. Throws std::runtime_error with openssl's messages on failure.
TestCertificates makeTestCertificates(const std::filesystem::path& dir);

}  // namespace carvo::test

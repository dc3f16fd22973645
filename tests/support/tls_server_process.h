// The platform's half of the https test servers (tls_server.h): running the
// script, and trusting its test CA.
#pragma once

#include <string>

// A path of ours as the script sees it: the same on Linux, the Unix path
// under Wine.
std::string ScriptPath(const std::string& path);
// The other way: a path the script or the build gave, as ours.
std::string LocalPath(const std::string& script_path);

// Runs "make-certs directory" and waits for it; true when the files are there.
bool MakeTestCerts(const std::string& directory);

// Makes the TLS client trust the CA in ca_pem; with OpenSSL, that CA alone,
// with empty_directory in place of the system's. A store of the system's that
// the test run has given the CA already (run_trusts_it) is left as it is.
bool TrustCaFile(const std::string& ca_pem, const std::string& empty_directory, bool run_trusts_it);

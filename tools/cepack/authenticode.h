// Who signed a package: the Authenticode signatures in a PE file's
// certificate table, read far enough to name each signer. Nothing here
// checks a digest, a signature value or a chain of trust.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cepack {

enum class TablePlace {
    NotProgram,  // no PE header: a bare archive, say
    None,        // a PE file whose certificate table directory entry is empty
    Found,
    Damaged,     // the directory entry points where no table can be
};

struct CertificateTableSpot {
    TablePlace place = TablePlace::NotProgram;
    uint64_t offset = 0;  // the table's file offset (the directory entry holds no RVA for it)
    uint32_t size = 0;
    std::string problem;  // with Damaged
};

// Where the certificate table of the file lies, from its first headSize
// bytes (the MZ and PE headers must lie in them) and its whole size.
CertificateTableSpot FindCertificateTable(const uint8_t* head, size_t headSize, uint64_t fileSize);

// One signature: its signer, or why none could be named.
struct SignatureFinding {
    int depth = 0;        // 0: an entry of the table; 1 and more: nested in the one before
    std::string signer;   // the certificate's subject commonName, printable UTF-8
    std::string problem;  // empty when the signer was found
};

// The signers of every WIN_CERTIFICATE entry in the table, nested
// signatures after the one that holds them. Never empty: a table without
// a signature gives a finding that says so.
std::vector<SignatureFinding> ReadCertificateTable(const uint8_t* table, size_t size);

// The signers of one PKCS#7 ContentInfo holding SignedData (a table entry's
// certificate), appended to findings; bytes after the DER element are padding.
void ReadSignature(const uint8_t* der, size_t size, int depth, std::vector<SignatureFinding>* findings);

// Limits on what one table may make cepack say.
constexpr int MaxSignatureDepth = 8;
constexpr size_t MaxSignatureFindings = 32;
constexpr size_t MaxSignerNameChars = 256;

}  // namespace cepack

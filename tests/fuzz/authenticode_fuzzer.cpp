// cepack verify's signature reader: arbitrary bytes (in a block of exactly
// their size) as a certificate table, as one signature, and, when they start
// like a program, as the file whose certificate table is found and read.
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_util.h"
#include "tools/cepack/authenticode.h"

using fuzz::Check;

namespace {

bool PrintableUtf8(const std::string& s) {
    for (size_t at = 0; at < s.size();) {
        unsigned char b = static_cast<unsigned char>(s[at]);
        size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        if (n == 0 || s.size() - at < n || (n == 1 && (b < 0x20 || b == 0x7F))) return false;
        for (size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(s[at + k]) & 0xC0) != 0x80) return false;
        }
        at += n;
    }
    return true;
}

void CheckFindings(const std::vector<cepack::SignatureFinding>& findings) {
    Check(findings.size() <= cepack::MaxSignatureFindings + 1, "more findings than the limit");
    for (const cepack::SignatureFinding& f : findings) {
        Check(f.depth >= 0 && f.depth <= cepack::MaxSignatureDepth + 1, "a finding nested beyond the limit");
        Check(f.problem.empty() || f.signer.empty(), "a signer and a problem at once");
        Check(PrintableUtf8(f.signer), "a signer's name that is not printable UTF-8", f.signer);
        Check(f.signer.size() <= cepack::MaxSignerNameChars * 4 + 3, "a signer's name beyond its limit");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ExactBuffer bytes(data, size, size);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.Text());
    std::vector<cepack::SignatureFinding> table = cepack::ReadCertificateTable(p, size);
    Check(!table.empty(), "a table read without a finding");
    CheckFindings(table);
    std::vector<cepack::SignatureFinding> one;
    cepack::ReadSignature(p, size, 0, &one);
    Check(!one.empty(), "a signature read without a finding");
    CheckFindings(one);

    cepack::CertificateTableSpot spot = cepack::FindCertificateTable(p, size, size);
    if (spot.place == cepack::TablePlace::Found) {
        Check(spot.offset <= size && spot.size <= size - spot.offset, "a table found outside the file");
        CheckFindings(cepack::ReadCertificateTable(p + spot.offset, spot.size));
    } else {
        Check((spot.place == cepack::TablePlace::Damaged) == !spot.problem.empty(), "a damaged table without why");
    }
    return 0;
}

// The signature reader on signatures put together byte by byte: what a
// signing tool never writes, each giving its finding rather than a crash.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/cepack/authenticode.h"

namespace {

using cepack::SignatureFinding;

std::string Tlv(uint8_t tag, const std::string& body) {
    std::string out(1, static_cast<char>(tag));
    size_t n = body.size();
    if (n < 0x80) {
        out += static_cast<char>(n);
    } else {
        std::string length;
        for (; n != 0; n >>= 8) length.insert(length.begin(), static_cast<char>(n & 0xFF));
        out += static_cast<char>(0x80 | length.size());
        out += length;
    }
    return out + body;
}
std::string Seq(const std::string& body) { return Tlv(0x30, body); }
std::string Set(const std::string& body) { return Tlv(0x31, body); }
std::string Int(int value) { return Tlv(0x02, std::string(1, static_cast<char>(value))); }
std::string Oid(const std::string& bytes) { return Tlv(0x06, bytes); }

const std::string SignedDataOid("\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02", 9);
const std::string NestedOid("\x2B\x06\x01\x04\x01\x82\x37\x02\x04\x01", 10);
const std::string Algorithm = Seq(Oid("\x2A\x03") + Tlv(0x05, ""));

std::string Name(const std::string& cn, uint8_t stringTag = 0x0C) {
    return Seq(Set(Seq(Oid("\x55\x04\x0A") + Tlv(0x13, "Org"))) + Set(Seq(Oid("\x55\x04\x03") + Tlv(stringTag, cn))));
}
std::string Certificate(int serial, const std::string& issuer, const std::string& subjectName) {
    std::string tbs = Tlv(0xA0, Int(2)) + Int(serial) + Algorithm + issuer + Seq(Tlv(0x17, "x") + Tlv(0x17, "y")) +
                      subjectName + Seq(Algorithm + Tlv(0x03, "key"));
    return Seq(Seq(tbs) + Algorithm + Tlv(0x03, "sig"));
}
std::string SignerInfo(const std::string& issuer, int serial, const std::string& unsignedAttributes = "") {
    return Seq(Int(1) + Seq(issuer + Int(serial)) + Algorithm + Tlv(0xA0, Seq(Oid("\x2A\x04") + Set(""))) + Algorithm +
               Tlv(0x04, "signature") + unsignedAttributes);
}
std::string ContentInfo(const std::string& certificates, const std::string& signers) {
    std::string signedData = Int(1) + Set(Algorithm) + Seq(Oid("\x2B\x06")) + Tlv(0xA0, certificates) + Set(signers);
    return Seq(Oid(SignedDataOid) + Tlv(0xA0, Seq(signedData)));
}
std::string Nested(const std::string& contentInfo) { return Tlv(0xA1, Seq(Oid(NestedOid) + Set(contentInfo))); }

const std::string Ca = Name("Test CA");
const std::string CaCert = Certificate(1, Ca, Ca);
const std::string LeafCert = Certificate(7, Ca, Name("Vendor"));
// The CA before the signer, as a DER SET OF may well sort them.
const std::string Good = ContentInfo(CaCert + LeafCert, SignerInfo(Ca, 7));

std::string Cut(const std::string& s, size_t n) { return s.substr(0, n); }
std::string Patched(std::string s, size_t at, char value) {
    s[at] = value;
    return s;
}
std::string DeepNest(int levels) {
    std::string inner = ContentInfo(LeafCert, SignerInfo(Ca, 7));
    for (int i = 0; i < levels; ++i) inner = ContentInfo(LeafCert, SignerInfo(Ca, 7, Nested(inner)));
    return inner;
}

// "signer" for a found signer, "!problem" for a finding with a problem.
std::string Render(const std::vector<SignatureFinding>& findings) {
    std::string out;
    for (const SignatureFinding& f : findings) {
        out += std::to_string(f.depth) + ":" + (f.problem.empty() ? f.signer : "!" + f.problem) + "\n";
    }
    return out;
}

struct SignatureRow {
    const char* what;
    std::string der;
    std::string expected;  // the rendered findings, or the start of them
};

TEST(AuthenticodeReader, NamesTheSignerOrSaysWhyNot) {
    const std::string twoSerials = ContentInfo(Certificate(8, Ca, Name("Other")) + LeafCert, SignerInfo(Ca, 7));
    const std::vector<SignatureRow> rows = {
        {"CA first, signer second", Good, "0:Vendor\n"},
        {"same issuer, matched by serial", twoSerials, "0:Vendor\n"},
        {"signer by issuer and serial not in the set", ContentInfo(CaCert, SignerInfo(Ca, 7)),
         "0:!the signer's certificate (by issuer and serial number) is not in the signature\n"},
        {"right serial, other issuer", ContentInfo(CaCert + LeafCert, SignerInfo(Name("Vendor"), 7)),
         "0:!the signer's certificate (by issuer and serial number) is not in the signature\n"},
        {"truncated", Cut(Good, Good.size() / 2), "0:!the signature is not a DER ContentInfo"},
        {"empty", "", "0:!the signature is not a DER ContentInfo"},
        {"outer length one too long", Patched(Good, 3, static_cast<char>(Good[3] + 1)),
         "0:!the signature is not a DER ContentInfo"},
        {"[0] length one too short", Patched(Good, 18, static_cast<char>(Good[18] - 1)),
         "0:!the signature's SignedData is malformed\n"},
        {"SignedData length one too short", Patched(Good, 22, static_cast<char>(Good[22] - 1)),
         "0:!the SignedData's SignerInfo set is malformed\n"},
        {"huge length", std::string("\x30\x84\xFF\xFF\xFF\xF0", 6) + Good, "0:!the signature is not a DER ContentInfo"},
        {"five length bytes", std::string("\x30\x85\x00\x00\x00\x00\x01\x00", 8), "0:!the signature is not a DER"},
        {"indefinite length", std::string("\x30\x80", 2) + Good + std::string(2, '\0'),
         "0:!the signature is not a DER ContentInfo"},
        {"not SignedData", Seq(Oid("\x2A\x86\x48\x86\xF7\x0D\x01\x07\x01") + Tlv(0xA0, Seq(""))),
         "0:!the signature's content is not PKCS#7 SignedData\n"},
        {"no SignerInfo", ContentInfo(CaCert, ""), "0:!the SignedData holds no SignerInfo\n"},
        {"no common name", ContentInfo(Certificate(7, Ca, Seq(Set(Seq(Oid("\x55\x04\x0A") + Tlv(0x13, "Org"))))),
                                       SignerInfo(Ca, 7)),
         "0:!the signer's certificate has no common name in its subject\n"},
        {"BMPString with a control character",
         ContentInfo(Certificate(7, Ca, Name(std::string("\0A\0\x1B\0B", 6), 0x1E)), SignerInfo(Ca, 7)), "0:A?B\n"},
        {"BMPString of odd length", ContentInfo(Certificate(7, Ca, Name("ABC", 0x1E)), SignerInfo(Ca, 7)),
         "0:!the signer's certificate has a malformed subject name\n"},
        {"invalid UTF-8", ContentInfo(Certificate(7, Ca, Name("V\xC0\xAF\xF8\x80\x80\xE2\x82")), SignerInfo(Ca, 7)),
         "0:V???????\n"},
        {"UTF-8 beyond ASCII", ContentInfo(Certificate(7, Ca, Name("M\xC3\xBCller \xF0\x9F\x94\x92")), SignerInfo(Ca, 7)),
         "0:M\xC3\xBCller \xF0\x9F\x94\x92\n"},
        {"nested signature",
         ContentInfo(CaCert + LeafCert,
                     SignerInfo(Ca, 7, Nested(ContentInfo(Certificate(3, Ca, Name("Second")), SignerInfo(Ca, 3))))),
         "0:Vendor\n1:Second\n"},
        {"nested, damaged", ContentInfo(LeafCert, SignerInfo(Ca, 7, Nested(Cut(Good, 40)))),
         "0:Vendor\n1:!a nested signature is malformed\n"},
        {"nested too deep", DeepNest(cepack::MaxSignatureDepth + 3), "0:Vendor\n1:Vendor\n2:Vendor\n3:Vendor\n"},
    };
    for (const SignatureRow& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<SignatureFinding> findings;
        // Exactly sized, so that AddressSanitizer sees a read past the end.
        std::vector<uint8_t> bytes(row.der.begin(), row.der.end());
        cepack::ReadSignature(bytes.data(), bytes.size(), 0, &findings);
        std::string got = Render(findings);
        EXPECT_EQ(got.substr(0, row.expected.size()), row.expected) << got;
    }
    std::vector<SignatureFinding> deep;
    std::string nested = DeepNest(cepack::MaxSignatureDepth + 3);
    cepack::ReadSignature(reinterpret_cast<const uint8_t*>(nested.data()), nested.size(), 0, &deep);
    ASSERT_EQ(deep.size(), static_cast<size_t>(cepack::MaxSignatureDepth + 2));
    EXPECT_EQ(deep.back().problem, "signatures nested deeper than cepack reads");
}

std::string Entry(uint32_t length, uint16_t revision, uint16_t type, const std::string& body) {
    std::string out;
    for (uint32_t v : {length, uint32_t{revision} | uint32_t{type} << 16}) {
        for (int k = 0; k < 4; ++k) out += static_cast<char>(v >> (8 * k) & 0xFF);
    }
    out += body;
    return out + std::string((8 - out.size() % 8) % 8, '\0');
}

TEST(AuthenticodeReader, CertificateTableEntries) {
    const uint32_t size = static_cast<uint32_t>(Good.size() + 8);
    const std::vector<SignatureRow> rows = {
        {"one entry", Entry(size, 0x0200, 2, Good), "0:Vendor\n"},
        {"two entries, the first padded", Entry(size, 0x0200, 2, Good) + Entry(size, 0x0200, 2, Good),
         "0:Vendor\n0:Vendor\n"},
        {"an entry longer than the table", Entry(size + 8, 0x0200, 2, Good),
         "0:!a certificate table entry claims " + std::to_string(size + 8) + " bytes where the table has"},
        {"an entry shorter than its header", Entry(4, 0x0200, 2, Good), "0:!a certificate table entry claims 4 bytes"},
        {"an X.509 entry", Entry(size, 0x0200, 1, Good), "0:!a certificate table entry of type 1, not an Authenticode"},
        {"revision 1.0", Entry(size, 0x0100, 2, Good), "0:!a certificate table entry of revision 1.0, not 2.0\n"},
        {"zeros only", std::string(16, '\0'), "0:!the certificate table holds no signature\n"},
        {"shorter than a header", "abc", "0:!the certificate table holds no signature\n"},
    };
    for (const SignatureRow& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<uint8_t> bytes(row.der.begin(), row.der.end());
        std::string got = Render(cepack::ReadCertificateTable(bytes.data(), bytes.size()));
        EXPECT_EQ(got.substr(0, row.expected.size()), row.expected) << got;
    }
}

}  // namespace

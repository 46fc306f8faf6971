// The PE certificate table (WIN_CERTIFICATE entries) and the CMS SignedData
// in it, read with a small DER reader that never looks past an element's end.
#include "tools/cepack/authenticode.h"

#include <cstring>

namespace cepack {

namespace {

// ---- DER ---------------------------------------------------------------------

constexpr uint8_t TagInteger = 0x02;
constexpr uint8_t TagOid = 0x06;
constexpr uint8_t TagUtf8String = 0x0C;
constexpr uint8_t TagPrintableString = 0x13;
constexpr uint8_t TagTeletexString = 0x14;
constexpr uint8_t TagIa5String = 0x16;
constexpr uint8_t TagVisibleString = 0x1A;
constexpr uint8_t TagUniversalString = 0x1C;
constexpr uint8_t TagBmpString = 0x1E;
constexpr uint8_t TagSequence = 0x30;
constexpr uint8_t TagSet = 0x31;
constexpr uint8_t TagContext0 = 0xA0;       // [0] constructed
constexpr uint8_t TagContext1 = 0xA1;       // [1] constructed
constexpr uint8_t TagContext0Plain = 0x80;  // [0] primitive: a subject key identifier

// Object identifiers as their DER contents.
constexpr uint8_t OidSignedData[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};  // 1.2.840.113549.1.7.2
constexpr uint8_t OidCommonName[] = {0x55, 0x04, 0x03};                                      // 2.5.4.3
constexpr uint8_t OidNestedSignature[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82,
                                          0x37, 0x02, 0x04, 0x01};  // 1.3.6.1.4.1.311.2.4.1

struct Element {
    uint8_t tag = 0;
    const uint8_t* start = nullptr;  // the tag
    const uint8_t* body = nullptr;
    size_t length = 0;  // of the body
    size_t WholeSize() const { return static_cast<size_t>(body - start) + length; }
};

// Reads elements one after another within [p, end). Only the definite
// lengths of DER, and one-byte tags: none of the structures read here use more.
class DerReader {
public:
    DerReader(const uint8_t* p, size_t size) : p_(p), end_(p + size) {}
    explicit DerReader(const Element& e) : DerReader(e.body, e.length) {}
    bool AtEnd() const { return p_ == end_; }

    bool Next(Element* e) {
        size_t left = static_cast<size_t>(end_ - p_);
        if (left < 2 || (p_[0] & 0x1F) == 0x1F) return false;
        size_t at = 2;
        uint64_t length = p_[1];
        if (length & 0x80) {
            size_t count = length & 0x7F;
            if (count == 0 || count > 4 || left - at < count) return false;
            length = 0;
            for (size_t k = 0; k < count; ++k) length = length << 8 | p_[at++];
        }
        if (length > left - at) return false;
        e->tag = p_[0];
        e->start = p_;
        e->body = p_ + at;
        e->length = static_cast<size_t>(length);
        p_ = e->body + e->length;
        return true;
    }

    // The next element only if it has this tag.
    bool Take(uint8_t tag, Element* e) {
        DerReader copy = *this;
        if (!copy.Next(e) || e->tag != tag) return false;
        *this = copy;
        return true;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

bool Is(const Element& e, const uint8_t* bytes, size_t size) {
    return e.length == size && std::memcmp(e.body, bytes, size) == 0;
}

template <size_t N>
bool IsOid(const Element& e, const uint8_t (&oid)[N]) {
    return e.tag == TagOid && Is(e, oid, N);
}

bool SameBytes(const Element& a, const Element& b) {
    return a.WholeSize() == b.WholeSize() && std::memcmp(a.start, b.start, a.WholeSize()) == 0;
}

// ---- names -------------------------------------------------------------------

constexpr uint32_t Replacement = '?';

void AppendUtf8(uint32_t c, std::string* out) {
    // Nothing that would steer a terminal: controls, C1 controls, surrogates.
    if (c < 0x20 || (c >= 0x7F && c < 0xA0) || (c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) c = Replacement;
    if (c < 0x80) {
        *out += static_cast<char>(c);
    } else if (c < 0x800) {
        *out += static_cast<char>(0xC0 | c >> 6);
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out += static_cast<char>(0xE0 | c >> 12);
        *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | c >> 18);
        *out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// One code point of UTF-8 at p (n bytes left); Replacement for a malformed
// sequence, of which one byte is taken.
uint32_t DecodeUtf8(const uint8_t* p, size_t n, size_t* used) {
    *used = 1;
    uint8_t b = p[0];
    // Continuation bytes, C0 and C1 (overlong), and F5 to FF (beyond U+10FFFF) start nothing.
    size_t count = b < 0x80 ? 0 : b < 0xC2 ? 4 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : b < 0xF5 ? 3 : 4;
    if (count == 0) return b;
    if (count == 4 || n <= count) return Replacement;
    uint32_t c = b & (0x3F >> count);
    for (size_t k = 1; k <= count; ++k) {
        if ((p[k] & 0xC0) != 0x80) return Replacement;
        c = c << 6 | (p[k] & 0x3F);
    }
    static constexpr uint32_t Least[] = {0, 0x80, 0x800, 0x10000};
    if (c < Least[count]) return Replacement;  // overlong
    *used = count + 1;
    return c;
}

// A DirectoryString as printable UTF-8 of at most MaxSignerNameChars
// characters; false for a string type or length no certificate uses.
bool DirectoryText(const Element& e, std::string* out) {
    out->clear();
    size_t width = e.tag == TagBmpString ? 2 : e.tag == TagUniversalString ? 4 : 1;
    if (e.length % width != 0) return false;
    bool utf8 = e.tag == TagUtf8String;
    bool bytes = e.tag == TagPrintableString || e.tag == TagTeletexString || e.tag == TagIa5String ||
                 e.tag == TagVisibleString;
    if (!utf8 && !bytes && width == 1) return false;
    size_t chars = 0;
    for (size_t at = 0; at < e.length;) {
        if (chars++ == MaxSignerNameChars) {
            *out += "...";
            break;
        }
        const uint8_t* p = e.body + at;
        uint32_t c;
        size_t used = width;
        if (utf8) {
            c = DecodeUtf8(p, e.length - at, &used);
        } else if (width == 1) {
            c = p[0];  // Teletex read as Latin-1, as most readers do
        } else if (width == 4) {
            c = static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
        } else {
            c = static_cast<uint32_t>(p[0] << 8 | p[1]);
            if (c >= 0xD800 && c < 0xDC00 && e.length - at >= 4) {
                uint32_t low = static_cast<uint32_t>(p[2] << 8 | p[3]);
                if (low >= 0xDC00 && low < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    used = 4;
                }
            }
        }
        AppendUtf8(c, out);
        at += used;
    }
    return true;
}

// The first commonName of a Name (SEQUENCE OF SET OF AttributeTypeAndValue).
enum class NameRead { Found, Missing, Malformed };
NameRead CommonName(const Element& name, std::string* cn) {
    DerReader rdns(name);
    Element rdn, pair, type, value;
    while (!rdns.AtEnd()) {
        if (!rdns.Next(&rdn) || rdn.tag != TagSet) return NameRead::Malformed;
        DerReader pairs(rdn);
        while (!pairs.AtEnd()) {
            if (!pairs.Next(&pair) || pair.tag != TagSequence) return NameRead::Malformed;
            DerReader fields(pair);
            if (!fields.Next(&type) || type.tag != TagOid || !fields.Next(&value)) return NameRead::Malformed;
            if (IsOid(type, OidCommonName)) return DirectoryText(value, cn) ? NameRead::Found : NameRead::Malformed;
        }
    }
    return NameRead::Missing;
}

// ---- certificates and signers ------------------------------------------------

struct CertificateIds {
    Element serial;   // INTEGER
    Element issuer;   // Name
    Element subject;  // Name
};

// The identifying fields of a Certificate's TBSCertificate.
bool ReadCertificate(const Element& certificate, CertificateIds* ids) {
    DerReader outer(certificate);
    Element tbs, skipped;
    if (!outer.Next(&tbs) || tbs.tag != TagSequence) return false;
    DerReader fields(tbs);
    fields.Take(TagContext0, &skipped);  // version, absent in v1
    return fields.Take(TagInteger, &ids->serial) && fields.Take(TagSequence, &skipped) &&  // signature algorithm
           fields.Take(TagSequence, &ids->issuer) && fields.Take(TagSequence, &skipped) &&  // validity
           fields.Take(TagSequence, &ids->subject);
}

void Add(std::vector<SignatureFinding>* findings, int depth, std::string signer, std::string problem) {
    if (findings->size() == MaxSignatureFindings) {
        findings->push_back({depth, "", "more signatures follow than cepack lists"});
        return;
    }
    if (findings->size() > MaxSignatureFindings) return;
    findings->push_back({depth, std::move(signer), std::move(problem)});
}

// The signer a SignerInfo names, and the nested signatures in its
// unauthenticated attributes.
void ReadSignerInfo(const Element& info, const std::vector<CertificateIds>& certificates, int depth,
                    std::vector<SignatureFinding>* findings) {
    DerReader fields(info);
    Element version, sid, issuer, serial, field;
    if (!fields.Take(TagInteger, &version) || !fields.Next(&sid)) {
        return Add(findings, depth, "", "a SignerInfo is malformed");
    }
    if (sid.tag == TagContext0Plain) {
        Add(findings, depth, "", "the SignerInfo names its certificate by subject key identifier, which cepack doesn't match");
    } else {
        DerReader ids(sid);
        if (sid.tag != TagSequence || !ids.Take(TagSequence, &issuer) || !ids.Take(TagInteger, &serial)) {
            return Add(findings, depth, "", "the SignerInfo's IssuerAndSerialNumber is malformed");
        }
        const CertificateIds* match = nullptr;
        for (const CertificateIds& c : certificates) {
            if (SameBytes(c.issuer, issuer) && Is(c.serial, serial.body, serial.length)) match = &c;
        }
        std::string cn;
        NameRead read = match ? CommonName(match->subject, &cn) : NameRead::Malformed;
        if (!match) {
            Add(findings, depth, "", "the signer's certificate (by issuer and serial number) is not in the signature");
        } else if (read == NameRead::Malformed) {
            Add(findings, depth, "", "the signer's certificate has a malformed subject name");
        } else if (read == NameRead::Missing) {
            Add(findings, depth, "", "the signer's certificate has no common name in its subject");
        } else {
            Add(findings, depth, cn, "");
        }
    }
    // digestAlgorithm, [0] signed attributes, signatureAlgorithm, signature, then [1].
    while (!fields.AtEnd()) {
        if (!fields.Next(&field)) return Add(findings, depth, "", "a SignerInfo is malformed after its signer");
        if (field.tag != TagContext1) continue;
        DerReader attributes(field);
        Element attribute, type, values, value;
        while (!attributes.AtEnd()) {
            if (!attributes.Next(&attribute) || attribute.tag != TagSequence) {
                return Add(findings, depth, "", "an unauthenticated attribute is malformed");
            }
            DerReader parts(attribute);
            if (!parts.Take(TagOid, &type) || !parts.Take(TagSet, &values)) {
                return Add(findings, depth, "", "an unauthenticated attribute is malformed");
            }
            if (!IsOid(type, OidNestedSignature)) continue;
            DerReader nested(values);
            while (!nested.AtEnd()) {
                if (!nested.Next(&value)) return Add(findings, depth + 1, "", "a nested signature is malformed");
                ReadSignature(value.start, value.WholeSize(), depth + 1, findings);
            }
        }
    }
}

// SignedData: version, digestAlgorithms, encapContentInfo, [0] certificates,
// [1] crls, signerInfos.
void ReadSignedData(const Element& signedData, int depth, std::vector<SignatureFinding>* findings) {
    DerReader fields(signedData);
    Element skipped, set, signers;
    if (!fields.Take(TagInteger, &skipped) || !fields.Take(TagSet, &skipped) || !fields.Take(TagSequence, &skipped)) {
        return Add(findings, depth, "", "the SignedData is malformed before its certificates");
    }
    std::vector<CertificateIds> certificates;
    if (fields.Take(TagContext0, &set)) {
        DerReader items(set);
        Element item;
        while (!items.AtEnd()) {
            if (!items.Next(&item)) return Add(findings, depth, "", "the SignedData's certificate set is malformed");
            CertificateIds ids;
            // Other certificate choices ([0]..[3]) name no signer here.
            if (item.tag == TagSequence && ReadCertificate(item, &ids)) certificates.push_back(ids);
        }
    }
    fields.Take(TagContext1, &skipped);
    if (!fields.Take(TagSet, &signers)) {
        return Add(findings, depth, "",
                   fields.AtEnd() ? "the SignedData has no SignerInfo set" : "the SignedData's SignerInfo set is malformed");
    }
    DerReader infos(signers);
    Element info;
    if (infos.AtEnd()) return Add(findings, depth, "", "the SignedData holds no SignerInfo");
    while (!infos.AtEnd()) {
        if (!infos.Next(&info) || info.tag != TagSequence) {
            return Add(findings, depth, "", "the SignedData's SignerInfo set is malformed");
        }
        ReadSignerInfo(info, certificates, depth, findings);
    }
}

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

constexpr uint16_t CertRevision2 = 0x0200;       // WIN_CERT_REVISION_2_0
constexpr uint16_t CertTypePkcsSignedData = 2;   // WIN_CERT_TYPE_PKCS_SIGNED_DATA
constexpr size_t CertHeaderSize = 8;             // dwLength, wRevision, wCertificateType

}  // namespace

void ReadSignature(const uint8_t* der, size_t size, int depth, std::vector<SignatureFinding>* findings) {
    if (depth > MaxSignatureDepth) return Add(findings, depth, "", "signatures nested deeper than cepack reads");
    DerReader top(der, size);
    Element contentInfo, type, content, signedData;
    if (!top.Next(&contentInfo) || contentInfo.tag != TagSequence) {
        return Add(findings, depth, "", "the signature is not a DER ContentInfo (cut short or a wrong length)");
    }
    DerReader fields(contentInfo);
    if (!fields.Take(TagOid, &type) || !IsOid(type, OidSignedData)) {
        return Add(findings, depth, "", "the signature's content is not PKCS#7 SignedData");
    }
    if (!fields.Take(TagContext0, &content)) return Add(findings, depth, "", "the signature holds no SignedData");
    DerReader explicitContent(content);  // [0] EXPLICIT
    if (!explicitContent.Take(TagSequence, &signedData)) {
        return Add(findings, depth, "", "the signature's SignedData is malformed");
    }
    ReadSignedData(signedData, depth, findings);
}

std::vector<SignatureFinding> ReadCertificateTable(const uint8_t* table, size_t size) {
    std::vector<SignatureFinding> findings;
    for (size_t at = 0; size - at >= CertHeaderSize;) {
        uint32_t length = Le32(table + at);
        uint16_t revision = Le16(table + at + 4), type = Le16(table + at + 6);
        if (length == 0 && revision == 0 && type == 0) break;  // zero padding behind the entries
        if (length < CertHeaderSize || length > size - at) {
            Add(&findings, 0, "", "a certificate table entry claims " + std::to_string(length) + " bytes where the table has " +
                                      std::to_string(size - at));
            break;
        }
        if (type != CertTypePkcsSignedData) {
            Add(&findings, 0, "", "a certificate table entry of type " + std::to_string(type) + ", not an Authenticode signature");
        } else if (revision != CertRevision2) {
            Add(&findings, 0, "", "a certificate table entry of revision " + std::to_string(revision >> 8) + "." +
                                      std::to_string(revision & 0xFF) + ", not 2.0");
        } else {
            ReadSignature(table + at + CertHeaderSize, length - CertHeaderSize, 0, &findings);
        }
        // Entries start on 8-byte boundaries.
        size_t step = (static_cast<size_t>(length) + 7) & ~size_t{7};
        if (step > size - at) break;
        at += step;
    }
    if (findings.empty()) Add(&findings, 0, "", "the certificate table holds no signature");
    return findings;
}

CertificateTableSpot FindCertificateTable(const uint8_t* head, size_t headSize, uint64_t fileSize) {
    CertificateTableSpot spot;
    constexpr size_t NewHeaderAt = 0x3C;  // e_lfanew
    if (headSize < NewHeaderAt + 4 || head[0] != 'M' || head[1] != 'Z') return spot;
    uint32_t pe = Le32(head + NewHeaderAt);
    constexpr size_t OptionalHeaderAt = 24, OptionalSizeAt = 20;
    if (pe > headSize || headSize - pe < OptionalHeaderAt + 2 || std::memcmp(head + pe, "PE\0\0", 4) != 0) {
        return spot;
    }
    uint16_t optionalSize = Le16(head + pe + OptionalSizeAt), magic = Le16(head + pe + OptionalHeaderAt);
    // NumberOfRvaAndSizes, then the data directories, in PE32 and PE32+.
    size_t countAt = magic == 0x10B ? 92 : magic == 0x20B ? 108 : 0;
    spot.place = TablePlace::None;
    if (countAt == 0) return spot;
    constexpr size_t SecurityEntry = 4, EntrySize = 8;
    size_t entryAt = countAt + 4 + SecurityEntry * EntrySize;
    const uint8_t* optional = head + pe + OptionalHeaderAt;
    size_t available = headSize - pe - OptionalHeaderAt;
    if (optionalSize < entryAt + EntrySize || available < entryAt + EntrySize || Le32(optional + countAt) <= SecurityEntry) {
        return spot;
    }
    uint32_t offset = Le32(optional + entryAt), size = Le32(optional + entryAt + 4);
    if (offset == 0 && size == 0) return spot;
    spot.place = TablePlace::Damaged;
    spot.offset = offset;
    spot.size = size;
    if (offset == 0 || size < CertHeaderSize) {
        spot.problem = "the certificate table's directory entry (offset " + std::to_string(offset) + ", " +
                       std::to_string(size) + " bytes) can't hold a certificate";
    } else if (offset > fileSize || size > fileSize - offset) {
        spot.problem = "the certificate table (" + std::to_string(size) + " bytes at offset " + std::to_string(offset) +
                       ") runs past the end of the file (" + std::to_string(fileSize) + " bytes)";
    } else {
        spot.place = TablePlace::Found;
    }
    return spot;
}

}  // namespace cepack

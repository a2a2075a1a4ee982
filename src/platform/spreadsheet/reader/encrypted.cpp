// Password-encrypted xlsx workbooks: the zip package lies encrypted in the stream
// "EncryptedPackage" of a compound document (read through libgsf), with the stream
// "EncryptionInfo" saying how. Spreadsheet programs open a workbook encrypted with the default
// password without asking (the "read-only recommended" and structure-protected workbooks); so
// does this reader. Both kinds of AES encryption in use are read: "standard" (a binary header,
// AES in ECB mode, a SHA-1 key of 50,000 rounds) and "agile" (an XML descriptor, AES in CBC mode
// over segments of 4096 bytes, SHA-1 or SHA-2 keys). OpenSSL's libcrypto does the cryptography.

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-utils.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <orcus/sax_parser.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/errors.h"
#include "platform/spreadsheet/orcus_guard.h"
#include "platform/spreadsheet/reader/internal.h"

namespace dupsweep::sheet::reader {
namespace {

using Bytes = std::string;

// The password spreadsheet programs use when the user gives none.
constexpr std::u16string_view kDefaultPassword = u"VelvetSweatshop";

// The most key derivation rounds computed; programs write 50,000 or 100,000.
constexpr std::uint32_t kMaxSpinCount = 1'000'000;

constexpr std::size_t kSegment = 4096;

// The workbook is encrypted in a way that is not read, or with another password.
struct NotReadable {};

// The encryption information or the encrypted package is damaged; `what` names the damage.
struct Damaged {
  std::string what;
};

std::uint32_t le32(std::string_view b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  return v;
}

std::uint64_t le64(std::string_view b, std::size_t at) {
  return le32(b, at) | (static_cast<std::uint64_t>(le32(b, at + 4)) << 32);
}

Bytes le32Bytes(std::uint32_t v) {
  Bytes out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

Bytes passwordBytes() {
  Bytes out;
  for (char16_t unit : kDefaultPassword) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
  return out;
}

// ---- the compound document ------------------------------------------------------------------

struct GObjectUnref {
  void operator()(void* object) const {
    if (object) g_object_unref(object);
  }
};
using Input = std::unique_ptr<GsfInput, GObjectUnref>;
using Infile = std::unique_ptr<GsfInfile, GObjectUnref>;

// The two streams of an encrypted package, read whole. A stream can be no larger than the
// document holding it; libgsf checks each sector chain against the document.
struct Streams {
  Bytes info;
  Bytes package;
};

Bytes readStream(GsfInfile* ole, const char* name, std::size_t documentSize) {
  Input stream(gsf_infile_child_by_name(ole, name));
  if (!stream) throw Damaged{std::string("its stream ") + name + " is missing or damaged"};
  const gsf_off_t size = gsf_input_size(stream.get());
  if (size < 0 || static_cast<std::uint64_t>(size) > documentSize)
    throw Damaged{std::string("its stream ") + name + " declares more bytes than the file holds"};
  Bytes bytes(static_cast<std::size_t>(size), '\0');
  if (size > 0 &&
      !gsf_input_read(stream.get(), bytes.size(), reinterpret_cast<guint8*>(bytes.data())))
    throw Damaged{std::string("its stream ") + name + " is shorter than it declares"};
  return bytes;
}

Streams readStreams(std::string_view bytes) {
  static std::once_flag initialised;
  std::call_once(initialised, [] {
    gsf_init();
    // A damaged document is reported through the exception; libgsf's own warnings go unseen.
    g_log_set_handler(
        "libgsf:msole", G_LOG_LEVEL_WARNING,
        [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
  });
  Input input(gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.data()),
                                   static_cast<gsf_off_t>(bytes.size()), FALSE));
  if (!input) throw Damaged{"its compound document cannot be opened"};
  GError* error = nullptr;
  Infile ole(gsf_infile_msole_new(input.get(), &error));
  if (error) g_error_free(error);
  if (!ole) throw Damaged{"its compound document is damaged"};
  Streams streams;
  streams.info = readStream(ole.get(), "EncryptionInfo", bytes.size());
  streams.package = readStream(ole.get(), "EncryptedPackage", bytes.size());
  return streams;
}

// ---- cryptography ------------------------------------------------------------------------------

struct DigestContext {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  ~DigestContext() { EVP_MD_CTX_free(ctx); }
};

struct CipherContext {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  ~CipherContext() { EVP_CIPHER_CTX_free(ctx); }
};

Bytes digest(const EVP_MD* md, std::string_view a, std::string_view b = {}) {
  DigestContext d;
  Bytes out(EVP_MAX_MD_SIZE, '\0');
  unsigned int length = 0;
  if (!d.ctx || !EVP_DigestInit_ex(d.ctx, md, nullptr) ||
      !EVP_DigestUpdate(d.ctx, a.data(), a.size()) ||
      !EVP_DigestUpdate(d.ctx, b.data(), b.size()) ||
      !EVP_DigestFinal_ex(d.ctx, reinterpret_cast<unsigned char*>(out.data()), &length))
    throw NotReadable{};
  out.resize(length);
  return out;
}

// H(salt + password), then `rounds` times H(round number + previous hash).
Bytes passwordHash(const EVP_MD* md, std::string_view salt, std::uint32_t rounds) {
  Bytes hash = digest(md, salt, passwordBytes());
  DigestContext d;
  if (!d.ctx) throw NotReadable{};
  Bytes round(4, '\0');
  unsigned int length = 0;
  for (std::uint32_t i = 0; i < rounds; ++i) {
    for (int k = 0; k < 4; ++k) round[k] = static_cast<char>((i >> (8 * k)) & 0xFF);
    if (!EVP_DigestInit_ex(d.ctx, md, nullptr) || !EVP_DigestUpdate(d.ctx, round.data(), 4) ||
        !EVP_DigestUpdate(d.ctx, hash.data(), hash.size()) ||
        !EVP_DigestFinal_ex(d.ctx, reinterpret_cast<unsigned char*>(hash.data()), &length))
      throw NotReadable{};
  }
  return hash;
}

// `bytes` cut or padded with 0x36 to `size`.
Bytes fitted(Bytes bytes, std::size_t size) {
  bytes.resize(size, '\x36');
  return bytes;
}

const EVP_CIPHER* aes(std::size_t keyBytes, bool cbc) {
  switch (keyBytes) {
    case 16:
      return cbc ? EVP_aes_128_cbc() : EVP_aes_128_ecb();
    case 24:
      return cbc ? EVP_aes_192_cbc() : EVP_aes_192_ecb();
    case 32:
      return cbc ? EVP_aes_256_cbc() : EVP_aes_256_ecb();
    default:
      throw NotReadable{};
  }
}

// The whole blocks of `data` decrypted, without padding; `iv` empty for ECB.
Bytes decrypt(const EVP_CIPHER* cipher, std::string_view key, std::string_view iv,
              std::string_view data) {
  data = data.substr(0, data.size() - data.size() % 16);
  CipherContext c;
  if (!c.ctx ||
      !EVP_DecryptInit_ex(
          c.ctx, cipher, nullptr, reinterpret_cast<const unsigned char*>(key.data()),
          iv.empty() ? nullptr : reinterpret_cast<const unsigned char*>(iv.data())) ||
      !EVP_CIPHER_CTX_set_padding(c.ctx, 0))
    throw NotReadable{};
  Bytes out(data.size(), '\0');
  // In pieces of a megabyte: the library counts bytes in an int.
  constexpr std::size_t kPiece = std::size_t{1} << 20;
  for (std::size_t at = 0; at < data.size(); at += kPiece) {
    const std::size_t piece = std::min(kPiece, data.size() - at);
    int length = 0;
    if (!EVP_DecryptUpdate(c.ctx, reinterpret_cast<unsigned char*>(out.data() + at), &length,
                           reinterpret_cast<const unsigned char*>(data.data() + at),
                           static_cast<int>(piece)) ||
        static_cast<std::size_t>(length) != piece)
      throw NotReadable{};
  }
  return out;
}

// The size the encrypted package declares (its first eight bytes), checked against the
// encrypted bytes after them.
std::size_t declaredSize(std::string_view package) {
  if (package.size() < 8) throw Damaged{"its encrypted package is truncated"};
  const std::uint64_t size = le64(package, 0);
  if (size > package.size() - 8)
    throw Damaged{"its encrypted package declares more bytes than it holds"};
  return static_cast<std::size_t>(size);
}

// ---- standard encryption --------------------------------------------------------------------

Bytes decryptStandard(std::string_view info, std::string_view package) {
  constexpr std::uint32_t kCryptoApi = 0x04, kAes = 0x20;
  if (info.size() < 12) throw Damaged{"its encryption information is truncated"};
  const std::uint32_t flags = le32(info, 4);
  if (!(flags & kCryptoApi) || !(flags & kAes)) throw NotReadable{};  // RC4
  const std::size_t headerSize = le32(info, 8);
  if (headerSize < 32 || headerSize > info.size() - 12)
    throw Damaged{"its encryption information is truncated"};
  const std::uint32_t algorithm = le32(info, 12 + 8);
  const std::uint32_t hash = le32(info, 12 + 12);
  const std::uint32_t keyBits = le32(info, 12 + 16);
  std::size_t keyBytes = 0;
  switch (algorithm) {
    case 0:
    case 0x660E:
      keyBytes = 16;
      break;
    case 0x660F:
      keyBytes = 24;
      break;
    case 0x6610:
      keyBytes = 32;
      break;
    default:
      throw NotReadable{};
  }
  if ((hash != 0 && hash != 0x8004) || (keyBits != 0 && keyBits != keyBytes * 8))
    throw NotReadable{};

  // The verifier: salt size, salt, encrypted verifier, verifier hash size, encrypted hash.
  const std::string_view verifier = info.substr(12 + headerSize);
  if (verifier.size() < 4 + 16 + 16 + 4 + 32 || le32(verifier, 0) != 16)
    throw Damaged{"its encryption information is truncated"};
  const std::string_view salt = verifier.substr(4, 16);

  const EVP_MD* sha1 = EVP_sha1();
  const Bytes hashed = digest(sha1, passwordHash(sha1, salt, 50'000), le32Bytes(0));
  Bytes inner(64, '\x36'), outer(64, '\x5C');
  for (std::size_t i = 0; i < hashed.size(); ++i) {
    inner[i] = static_cast<char>(inner[i] ^ hashed[i]);
    outer[i] = static_cast<char>(outer[i] ^ hashed[i]);
  }
  const Bytes key = (digest(sha1, inner) + digest(sha1, outer)).substr(0, keyBytes);

  const EVP_CIPHER* cipher = aes(keyBytes, false);
  const Bytes plainVerifier = decrypt(cipher, key, {}, verifier.substr(20, 16));
  const Bytes verifierHash = decrypt(cipher, key, {}, verifier.substr(40, 32));
  if (digest(sha1, plainVerifier) != verifierHash.substr(0, 20)) throw NotReadable{};

  const std::size_t size = declaredSize(package);
  Bytes plain = decrypt(cipher, key, {}, package.substr(8));
  if (plain.size() < size) throw Damaged{"its encrypted package is truncated"};
  plain.resize(size);
  return plain;
}

// ---- agile encryption ---------------------------------------------------------------------------

// How one key is derived and used, as the descriptor's <keyData> or password <encryptedKey>
// gives it.
struct KeyParameters {
  const EVP_MD* md = nullptr;
  std::size_t hashSize = 0;
  std::size_t keyBytes = 0;
  std::size_t blockSize = 0;
  Bytes salt;
  std::uint32_t spinCount = 0;
  Bytes verifierInput, verifierValue, keyValue;  // the password key's only
};

Bytes base64(std::string_view text) {
  std::string compact;
  for (char c : text)
    if (!std::isspace(static_cast<unsigned char>(c))) compact += c;
  if (compact.size() % 4 != 0) throw Damaged{"its encryption descriptor is damaged"};
  Bytes out(compact.size() / 4 * 3, '\0');
  const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                     reinterpret_cast<const unsigned char*>(compact.data()),
                                     static_cast<int>(compact.size()));
  if (length < 0) throw Damaged{"its encryption descriptor is damaged"};
  std::size_t padding = 0;
  while (padding < 2 && padding < compact.size() && compact[compact.size() - 1 - padding] == '=')
    ++padding;
  out.resize(static_cast<std::size_t>(length) - padding);
  return out;
}

std::size_t number(std::string_view text) {
  std::size_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size())
    throw Damaged{"its encryption descriptor is damaged"};
  return value;
}

// The attributes of the descriptor's <keyData> and of the <encryptedKey> of the password key
// encryptor (the one with a verifier; a certificate's has none).
class DescriptorScanner : public orcus::sax_handler {
 public:
  std::vector<std::pair<std::string, std::string>> keyData, passwordKey;
  std::string hmacKey, hmacValue;  // base64, as <dataIntegrity> gives them

  void attribute(const orcus::sax::parser_attribute& attr) {
    attributes_.emplace_back(std::string(attr.name), std::string(attr.value));
  }
  void start_element(const orcus::sax::parser_element& elem) {
    if (elem.name == "keyData" && keyData.empty()) keyData = attributes_;
    if (elem.name == "dataIntegrity") {
      for (const auto& [name, value] : attributes_) {
        if (name == "encryptedHmacKey") hmacKey = value;
        if (name == "encryptedHmacValue") hmacValue = value;
      }
    }
    if (elem.name == "encryptedKey" && passwordKey.empty()) {
      for (const auto& [name, value] : attributes_)
        if (name == "encryptedVerifierHashInput") passwordKey = attributes_;
    }
    attributes_.clear();
  }

 private:
  std::vector<std::pair<std::string, std::string>> attributes_;
};

KeyParameters keyParameters(const std::vector<std::pair<std::string, std::string>>& attributes) {
  if (attributes.empty()) throw Damaged{"its encryption descriptor is damaged"};
  KeyParameters p;
  std::string cipher, chaining, hash;
  std::size_t saltSize = 0, keyBits = 0;
  for (const auto& [name, value] : attributes) {
    if (name == "cipherAlgorithm")
      cipher = value;
    else if (name == "cipherChaining")
      chaining = value;
    else if (name == "hashAlgorithm")
      hash = value;
    else if (name == "saltSize")
      saltSize = number(value);
    else if (name == "keyBits")
      keyBits = number(value);
    else if (name == "blockSize")
      p.blockSize = number(value);
    else if (name == "hashSize")
      p.hashSize = number(value);
    else if (name == "spinCount")
      p.spinCount = static_cast<std::uint32_t>(std::min<std::size_t>(number(value), 0xFFFFFFFFu));
    else if (name == "saltValue")
      p.salt = base64(value);
    else if (name == "encryptedVerifierHashInput")
      p.verifierInput = base64(value);
    else if (name == "encryptedVerifierHashValue")
      p.verifierValue = base64(value);
    else if (name == "encryptedKeyValue")
      p.keyValue = base64(value);
  }
  if (cipher != "AES" || chaining != "ChainingModeCBC" || p.blockSize != 16) throw NotReadable{};
  if (hash == "SHA1" || hash == "SHA-1")
    p.md = EVP_sha1();
  else if (hash == "SHA256")
    p.md = EVP_sha256();
  else if (hash == "SHA384")
    p.md = EVP_sha384();
  else if (hash == "SHA512")
    p.md = EVP_sha512();
  else
    throw NotReadable{};
  if (p.hashSize != static_cast<std::size_t>(EVP_MD_get_size(p.md))) throw NotReadable{};
  p.keyBytes = keyBits / 8;
  aes(p.keyBytes, true);  // refuses other key sizes
  if (keyBits % 8 != 0 || p.salt.empty() || p.salt.size() != saltSize || saltSize > 64)
    throw Damaged{"its encryption descriptor is damaged"};
  if (p.spinCount > kMaxSpinCount) throw NotReadable{};
  return p;
}

// The key that decrypts one field of the password key, `block` naming the field.
Bytes passwordKey(const KeyParameters& p, const Bytes& hash, std::string_view block) {
  return fitted(digest(p.md, hash, block), p.keyBytes);
}

Bytes decryptAgile(std::string_view info, std::string_view package) {
  // Version 4.4, a reserved field, then the XML descriptor.
  if (info.size() < 8 || le32(info, 4) != 0x40) throw NotReadable{};
  std::string xml(info.substr(8));
  if (!xmlPartHazard(xml).empty()) throw Damaged{"its encryption descriptor is damaged"};
  DescriptorScanner scanner;
  const std::size_t length = xml.size();
  xml.append(16, '\0');  // keeps the parser inside the buffer
  try {
    orcus::sax_parser<DescriptorScanner> parser(xml.data(), length, scanner);
    parser.parse();
  } catch (const orcus::general_error&) {
    throw Damaged{"its encryption descriptor is damaged"};
  }
  if (scanner.passwordKey.empty()) throw NotReadable{};  // a certificate's key only
  const KeyParameters data = keyParameters(scanner.keyData);
  const KeyParameters pass = keyParameters(scanner.passwordKey);

  static const Bytes kVerifierInputBlock("\xfe\xa7\xd2\x76\x3b\x4b\x9e\x79", 8);
  static const Bytes kVerifierValueBlock("\xd7\xaa\x0f\x6d\x30\x61\x34\x4e", 8);
  static const Bytes kKeyValueBlock("\x14\x6e\x0b\xe7\xab\xac\xd0\xd6", 8);
  const Bytes hash = passwordHash(pass.md, pass.salt, pass.spinCount);
  const EVP_CIPHER* passCipher = aes(pass.keyBytes, true);
  const Bytes iv = fitted(pass.salt, pass.blockSize);
  const Bytes input =
      decrypt(passCipher, passwordKey(pass, hash, kVerifierInputBlock), iv, pass.verifierInput);
  const Bytes value =
      decrypt(passCipher, passwordKey(pass, hash, kVerifierValueBlock), iv, pass.verifierValue);
  if (input.size() < pass.salt.size() || value.size() < pass.hashSize)
    throw Damaged{"its encryption descriptor is damaged"};
  if (digest(pass.md, std::string_view(input).substr(0, pass.salt.size())) !=
      value.substr(0, pass.hashSize))
    throw NotReadable{};
  Bytes key = decrypt(passCipher, passwordKey(pass, hash, kKeyValueBlock), iv, pass.keyValue);
  if (key.size() < data.keyBytes) throw Damaged{"its encryption descriptor is damaged"};
  key.resize(data.keyBytes);

  // The keyed hash of the whole encrypted stream, where the descriptor gives one: a package
  // damaged after it was encrypted is named so rather than read as garbage.
  if (!scanner.hmacKey.empty() && !scanner.hmacValue.empty()) {
    static const Bytes kHmacKeyBlock("\x5f\xb2\xad\x01\x0c\xb9\xe1\xf6", 8);
    static const Bytes kHmacValueBlock("\xa0\x67\x7f\x02\xb2\x2c\x84\x33", 8);
    const EVP_CIPHER* cipher = aes(data.keyBytes, true);
    const Bytes hmacKey =
        decrypt(cipher, key, fitted(digest(data.md, data.salt, kHmacKeyBlock), data.blockSize),
                base64(scanner.hmacKey));
    const Bytes expected =
        decrypt(cipher, key, fitted(digest(data.md, data.salt, kHmacValueBlock), data.blockSize),
                base64(scanner.hmacValue));
    if (hmacKey.size() < data.hashSize || expected.size() < data.hashSize)
      throw Damaged{"its encryption descriptor is damaged"};
    Bytes actual(EVP_MAX_MD_SIZE, '\0');
    unsigned int hmacLength = 0;
    if (!HMAC(data.md, hmacKey.data(), static_cast<int>(data.hashSize),
              reinterpret_cast<const unsigned char*>(package.data()), package.size(),
              reinterpret_cast<unsigned char*>(actual.data()), &hmacLength))
      throw NotReadable{};
    actual.resize(hmacLength);
    if (actual != expected.substr(0, data.hashSize))
      throw Damaged{"its encrypted package fails its integrity check"};
  }

  // Each segment of 4096 bytes is encrypted on its own, its initialisation vector the hash of
  // the key data's salt and the segment's number.
  const std::size_t size = declaredSize(package);
  const std::string_view encrypted = package.substr(8);
  const EVP_CIPHER* dataCipher = aes(data.keyBytes, true);
  Bytes plain;
  plain.reserve(encrypted.size());
  for (std::size_t at = 0, segment = 0; at < size; at += kSegment, ++segment) {
    const Bytes segmentIv = fitted(
        digest(data.md, data.salt, le32Bytes(static_cast<std::uint32_t>(segment))), data.blockSize);
    plain += decrypt(dataCipher, key, segmentIv, encrypted.substr(at, kSegment));
  }
  if (plain.size() < size) throw Damaged{"its encrypted package is truncated"};
  plain.resize(size);
  return plain;
}

}  // namespace

bool isEncryptedPackage(std::string_view bytes) {
  static const std::string kName("E\0n\0c\0r\0y\0p\0t\0i\0o\0n\0I\0n\0f\0o\0", 28);
  return isLegacyExcel(bytes) && bytes.find(kName) != std::string_view::npos;
}

std::string decryptPackage(std::string_view bytes, const std::string& prefix) {
  const std::string encrypted =
      prefix + " is an encrypted (password-protected) workbook, which cannot be read";
  try {
    const Streams streams = readStreams(bytes);
    if (streams.info.size() < 4) throw Damaged{"its encryption information is truncated"};
    const unsigned major = static_cast<unsigned char>(streams.info[0]);
    const unsigned minor = static_cast<unsigned char>(streams.info[2]);
    if (streams.info[1] != 0 || streams.info[3] != 0) throw NotReadable{};
    Bytes plain;
    if (minor == 2 && major >= 2 && major <= 4)
      plain = decryptStandard(streams.info, streams.package);
    else if (major == 4 && minor == 4)
      plain = decryptAgile(streams.info, streams.package);
    else
      throw NotReadable{};  // RC4, or an extensible encryption
    if (!isZip(plain)) throw Damaged{"its decrypted package is no zip archive"};
    return plain;
  } catch (const NotReadable&) {
    throw FormatError(encrypted);
  } catch (const Damaged& damage) {
    throw FormatError(prefix + " cannot be read (corrupt or truncated): it is an encrypted " +
                      "workbook, and " + damage.what);
  }
}

}  // namespace dupsweep::sheet::reader

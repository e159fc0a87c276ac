// The system crypto library's message hash, as the package stream feeds it:
// bytes go in with update(), digest() finishes and starts a new message.
#pragma once

#include <cstddef>

class Hash {
 public:
  virtual ~Hash() = default;
  virtual void update(const void* data, size_t length) = 0;
  // Writes digestLength() bytes and leaves the object ready for a new message.
  virtual void digest(unsigned char* out) = 0;
  virtual size_t digestLength() const = 0;
};

// SHA-1 of the system crypto library; the digest of package signatures.
class SHA1 : public Hash {
 public:
  static constexpr size_t kDigestLength = 20;
  SHA1();
  ~SHA1() override;
  SHA1(const SHA1&) = delete;
  SHA1& operator=(const SHA1&) = delete;

  void update(const void* data, size_t length) override;
  void digest(unsigned char* out) override;
  size_t digestLength() const override { return kDigestLength; }

 private:
  void* context_;  // the library's digest context
};

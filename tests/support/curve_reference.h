// Big-integer reference arithmetic for the signature curve tests: affine
// points on v^2 = u^3 + 486662 u^2 + u over p = 2^255 - 19, computed the
// plain textbook way with GMP. Header only; a test using it links gmp.
#pragma once

#include <gmpxx.h>

#include <array>
#include <string>

namespace curve_reference {

using Bytes32 = std::array<unsigned char, 32>;

inline const mpz_class& prime() {
  static const mpz_class p = (mpz_class(1) << 255) - 19;
  return p;
}

inline const mpz_class& groupOrder() {
  static const mpz_class l =
      (mpz_class(1) << 252) + mpz_class("27742317777372353535851937790883648493");
  return l;
}

inline mpz_class reduce(const mpz_class& n) {
  mpz_class r;
  mpz_mod(r.get_mpz_t(), n.get_mpz_t(), prime().get_mpz_t());
  return r;
}

inline mpz_class power(const mpz_class& base, const mpz_class& exponent) {
  mpz_class r;
  mpz_powm(r.get_mpz_t(), reduce(base).get_mpz_t(), exponent.get_mpz_t(), prime().get_mpz_t());
  return r;
}

inline mpz_class inverse(const mpz_class& n) { return power(n, prime() - 2); }

inline mpz_class fromBytes(const unsigned char* bytes, size_t count = 32) {
  mpz_class n;
  mpz_import(n.get_mpz_t(), count, -1, 1, 0, 0, bytes);
  return n;
}

// n (0 <= n < 2^256) as 32 little-endian bytes.
inline Bytes32 toBytes(const mpz_class& n) {
  Bytes32 out{};
  size_t written = 0;
  mpz_export(out.data(), &written, -1, 1, 0, 0, n.get_mpz_t());
  return out;
}

inline std::string hex(const Bytes32& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

inline Bytes32 fromHex(const std::string& text) {
  Bytes32 out{};
  for (size_t i = 0; i < 32 && 2 * i + 1 < text.size(); ++i)
    out[i] = static_cast<unsigned char>(std::stoi(text.substr(2 * i, 2), nullptr, 16));
  return out;
}

inline mpz_class curveRight(const mpz_class& u) { return reduce(u * u * u + 486662 * u * u + u); }

// The square root of a whose value is even; false when a is not a square.
inline bool evenRoot(const mpz_class& a, mpz_class* root) {
  const mpz_class& p = prime();
  mpz_class r = power(a, (p + 3) / 8);
  if (reduce(r * r) != reduce(a)) r = reduce(r * power(2, (p - 1) / 4));
  if (reduce(r * r) != reduce(a)) return false;
  if (mpz_odd_p(r.get_mpz_t())) r = p - r;
  *root = reduce(r);
  return true;
}

struct Point {
  bool infinity = true;
  mpz_class u, v;
};

inline Point pointWithEvenV(const mpz_class& u) {
  Point point;
  point.infinity = !evenRoot(curveRight(u), &point.v);
  point.u = reduce(u);
  return point;
}

inline Point negate(const Point& point) {
  Point negated = point;
  negated.v = reduce(prime() - point.v);
  return negated;
}

inline Point add(const Point& a, const Point& b) {
  if (a.infinity) return b;
  if (b.infinity) return a;
  mpz_class slope;
  if (a.u == b.u) {
    if (reduce(a.v + b.v) == 0) return Point();
    slope = reduce((3 * a.u * a.u + 2 * 486662 * a.u + 1) * inverse(2 * a.v));
  } else {
    slope = reduce((b.v - a.v) * inverse(b.u - a.u));
  }
  Point sum;
  sum.infinity = false;
  sum.u = reduce(slope * slope - 486662 - a.u - b.u);
  sum.v = reduce(slope * (a.u - sum.u) - a.v);
  return sum;
}

inline Point multiply(const mpz_class& n, const Point& point) {
  Point result;
  for (size_t bit = mpz_sizeinbase(n.get_mpz_t(), 2); bit-- > 0;) {
    result = add(result, result);
    if (mpz_tstbit(n.get_mpz_t(), bit)) result = add(result, point);
  }
  return result;
}

// The encoded u of a point; 32 zero bytes for infinity.
inline Bytes32 encodedU(const Point& point) { return point.infinity ? Bytes32{} : toBytes(point.u); }

inline const Point& basePoint() {
  static const Point g = pointWithEvenV(9);
  return g;
}

}  // namespace curve_reference

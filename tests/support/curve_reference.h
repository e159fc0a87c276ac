// Reference arithmetic for the signature curve tests, the plain textbook way with GMP: affine
// points on v^2 = u^3 + 486662 u^2 + u over p = 2^255 - 19. Its users link gmp.
#pragma once

#include <gmpxx.h>

#include <array>

namespace curve_reference {

using Bytes32 = std::array<unsigned char, 32>;
inline const mpz_class kPrime = (mpz_class(1) << 255) - 19;
inline const mpz_class& groupOrder() {
  static const mpz_class l = (mpz_class(1) << 252) + mpz_class("27742317777372353535851937790883648493");
  return l;
}
inline mpz_class reduce(const mpz_class& n) { return mpz_class((n % kPrime + kPrime) % kPrime); }
inline mpz_class inverse(const mpz_class& n) {
  mpz_class r;
  mpz_invert(r.get_mpz_t(), reduce(n).get_mpz_t(), kPrime.get_mpz_t());
  return r;
}
inline mpz_class fromBytes(const unsigned char* bytes, size_t count = 32) {  // little-endian
  mpz_class n;
  mpz_import(n.get_mpz_t(), count, -1, 1, 0, 0, bytes);
  return n;
}
inline Bytes32 toBytes(const mpz_class& n) {  // 0 <= n < 2^256
  Bytes32 out{};
  mpz_export(out.data(), nullptr, -1, 1, 0, 0, n.get_mpz_t());
  return out;
}

struct Point {
  bool infinity = true;
  mpz_class u, v;
};
inline Point add(const Point& a, const Point& b) {
  if (a.infinity || b.infinity) return a.infinity ? b : a;
  if (a.u == b.u && reduce(a.v + b.v) == 0) return Point();
  const mpz_class slope = a.u == b.u ? mpz_class((3 * a.u * a.u + 2 * 486662 * a.u + 1) * inverse(2 * a.v))
                                     : mpz_class((b.v - a.v) * inverse(b.u - a.u));
  const mpz_class u = reduce(slope * slope - 486662 - a.u - b.u);
  return Point{false, u, reduce(slope * (a.u - u) - a.v)};
}
inline Point multiply(const mpz_class& n, const Point& point) {
  Point sum;
  for (size_t bit = mpz_sizeinbase(n.get_mpz_t(), 2); bit-- > 0;)
    sum = mpz_tstbit(n.get_mpz_t(), bit) ? add(add(sum, sum), point) : add(sum, sum);
  return sum;
}
inline Point withEvenV(Point point) {  // of the two points with its u
  if (mpz_odd_p(point.v.get_mpz_t())) point.v = kPrime - point.v;
  return point;
}
inline Bytes32 encodedU(const Point& point) { return point.infinity ? Bytes32{} : toBytes(point.u); }
inline const Point& basePoint() {  // u = 9
  static const Point g = withEvenV(
      {false, 9, mpz_class("14781619447589544791020593568409986887264606134616475288964881837755586237401")});
  return g;
}

}  // namespace curve_reference

// Package signature checks per second: the arithmetic of verifySignature
// (sigHash, doubleScalarX, sigHash) next to libsodium's Ed25519 verification
// measured in the same run. The bar is at most 1.5 times libsodium's time.
#include <benchmark/benchmark.h>
#include <sodium.h>

#include <time.h>

#include <chrono>

#include "pkgfile/package_signature.h"
#include "signing/key_generator.h"
#include "signing/package_signer.h"

namespace {

// A fresh key, a digest and its signature; the signature verifies. The key
// is prepared once, as the installer's built-in key is.
struct SignedDigest {
  PrivateKey key;
  VerificationKey verificationKey;
  unsigned char digest[kSignatureDigestLength];
  unsigned char payload[kSignaturePayloadLength];
  bool ready = false;

  SignedDigest() {
    ready = generateKey(&key) && randomBytes(digest, sizeof digest) && signDigest(key, digest, payload);
    prepareVerificationKey(verificationKey, key.publicKey);
    ready = ready && check();
  }

  bool check() const { return checkSignaturePayload(payload, digest, verificationKey); }
};

// An Ed25519 key pair of libsodium and its signature over a 20-byte digest.
struct SodiumSignedDigest {
  unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
  unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
  unsigned char signature[crypto_sign_BYTES];
  unsigned char digest[kSignatureDigestLength];
  bool ready = false;

  SodiumSignedDigest() {
    ready = sodium_init() >= 0 && crypto_sign_keypair(publicKey, secretKey) == 0 &&
            randomBytes(digest, sizeof digest) &&
            crypto_sign_detached(signature, nullptr, digest, sizeof digest, secretKey) == 0 &&
            crypto_sign_verify_detached(signature, digest, sizeof digest, publicKey) == 0;
  }

  bool verify() const { return crypto_sign_verify_detached(signature, digest, sizeof digest, publicKey) == 0; }
};

void BM_SignatureCheck(benchmark::State& state) {
  static const SignedDigest fixture;
  if (!fixture.ready) return state.SkipWithError("could not make a signature");
  for (auto _ : state)
    benchmark::DoNotOptimize(fixture.check());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SignatureCheck)->Unit(benchmark::kMicrosecond);

void BM_SodiumEd25519Verify(benchmark::State& state) {
  static const SodiumSignedDigest fixture;
  if (!fixture.ready) return state.SkipWithError("libsodium could not sign");
  for (auto _ : state) benchmark::DoNotOptimize(fixture.verify());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SodiumEd25519Verify)->Unit(benchmark::kMicrosecond);

// Both, alternately, so that a busy machine slows them alike; the counter
// time_ratio is our processor time per check over libsodium's.
std::chrono::nanoseconds threadTime() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

void BM_SignatureCheckOverSodium(benchmark::State& state) {
  static const SignedDigest ours;
  static const SodiumSignedDigest sodium;
  if (!ours.ready || !sodium.ready) return state.SkipWithError("could not make the signatures");
  std::chrono::nanoseconds oursTime{0}, sodiumTime{0};
  for (auto _ : state) {
    const std::chrono::nanoseconds start = threadTime();
    benchmark::DoNotOptimize(ours.check());
    const std::chrono::nanoseconds middle = threadTime();
    benchmark::DoNotOptimize(sodium.verify());
    sodiumTime += threadTime() - middle;
    oursTime += middle - start;
  }
  state.counters["time_ratio"] =
      static_cast<double>(oursTime.count()) / static_cast<double>(sodiumTime.count() ? sodiumTime.count() : 1);
}
BENCHMARK(BM_SignatureCheckOverSodium)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

/* The yardstick for orlim-decode's throughput: a plain C loop that does the
 * same job with libgcrypt's Twofish in CBC mode with ciphertext stealing.
 * The key is set once; each line of hex is decoded, decrypted and printed as
 * the same text record orlim-decode prints for a bare token.
 *   gcrypt_decode KEY_HEX < tokens   (KEY_HEX: 64 digits, see make_tokens --key) */
#include <gcrypt.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

static int hexValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

static int hexBytes(const char* text, unsigned char* out, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    int high = hexValue(text[2 * i]);
    int low = hexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return -1;
    out[i] = (unsigned char)(high << 4 | low);
  }
  return 0;
}

int main(int argc, char** argv) {
  unsigned char key[32];
  if (argc != 2 || strlen(argv[1]) != 64 || hexBytes(argv[1], key, 32) != 0) {
    fprintf(stderr, "usage: gcrypt_decode KEY_HEX < tokens\n");
    return 2;
  }
  gcry_check_version(NULL);
  gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
  gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  gcry_cipher_hd_t h = NULL;
  gcry_cipher_open(&h, GCRY_CIPHER_TWOFISH, GCRY_CIPHER_MODE_CBC, GCRY_CIPHER_CBC_CTS);
  gcry_cipher_setkey(h, key, 32);
  static const unsigned char iv[16];
  char line[1100];
  unsigned long number = 0;
  int failed = 0;
  while (fgets(line, sizeof line, stdin) != NULL) {
    ++number;
    unsigned char sealed[29];
    unsigned char r[29];
    if (strlen(line) < 58 || hexBytes(line, sealed, 29) != 0) {
      fprintf(stderr, "gcrypt_decode: line %lu: not a token\n", number);
      failed = 1;
      continue;
    }
    gcry_cipher_setiv(h, iv, 16);
    gcry_cipher_decrypt(h, r, 29, sealed, 29);
    uint32_t seconds = (uint32_t)r[1] | (uint32_t)r[2] << 8 | (uint32_t)r[3] << 16 |
                       (uint32_t)r[4] << 24;
    time_t t = (time_t)seconds;
    struct tm parts;
    gmtime_r(&t, &parts);
    char utc[32];
    strftime(utc, sizeof utc, "%Y-%m-%dT%H:%M:%SZ", &parts);
    char uuid[37];
    const unsigned char* u = r + 5;
    snprintf(uuid, sizeof uuid,
             "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", u[0], u[1],
             u[2], u[3], u[4], u[5], u[6], u[7], u[8], u[9], u[10], u[11], u[12], u[13], u[14],
             u[15]);
    printf("%stoken:   %.58s\nversion: %u\ntime:    %s (%u)\nuuid:    %s\nlegacy:  %.8s\n"
           "machine: %s/%.8s\n",
           number == 1 ? "" : "\n", line, r[0], utc, seconds, uuid, (const char*)r + 21, uuid,
           (const char*)r + 21);
  }
  gcry_cipher_close(h);
  return failed || fflush(stdout) != 0;
}

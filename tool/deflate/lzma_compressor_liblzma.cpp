// LZMA through liblzma's raw LZMA1 encoder: the entry's data is the 4-byte
// header (encoder version, properties size 5), the 5 properties bytes and
// the raw stream, as ZIP method 14 stores it.
#include <lzma.h>

#include "lzma_compressor.h"

namespace {

constexpr size_t HEADER_SIZE = 9;

// Sets up the raw encoder on s and puts the entry's 9-byte header into
// header; false on failure.
bool Begin(lzma_options_lzma *o, bool endMarker, lzma_stream *s, unsigned char header[HEADER_SIZE]) {
  o->ext_flags = endMarker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, o}, {LZMA_VLI_UNKNOWN, nullptr}};
  uint32_t propsSize = 0;
  if (lzma_properties_size(&propsSize, filters) != LZMA_OK || propsSize != 5 ||
      lzma_properties_encode(filters, header + 4) != LZMA_OK)
    return false;
  uint32_t version = lzma_version_number();
  header[0] = (unsigned char)(version / 10000000 % 256);    // the encoder's major version
  header[1] = (unsigned char)(version / 10000 % 1000 % 256);  // and minor
  header[2] = 5;  // properties size, two bytes
  header[3] = 0;
  return lzma_raw_encoder(s, filters) == LZMA_OK;
}

// Encodes size bytes into *out (replaced); false when the result would take
// more than maxOut bytes or the encoder fails.
bool Encode(const lzma_options_lzma &options, bool endMarker, const unsigned char *data, size_t size, size_t maxOut,
            std::string *out) {
  lzma_options_lzma o = options;
  lzma_stream s = LZMA_STREAM_INIT;
  unsigned char header[HEADER_SIZE];
  if (maxOut <= HEADER_SIZE || !Begin(&o, endMarker, &s, header)) {
    lzma_end(&s);
    return false;
  }
  out->assign(maxOut, '\0');
  for (size_t i = 0; i < HEADER_SIZE; i++) (*out)[i] = (char)header[i];
  s.next_in = data;
  s.avail_in = size;
  s.next_out = (uint8_t *)&(*out)[HEADER_SIZE];
  s.avail_out = maxOut - HEADER_SIZE;
  lzma_ret r;
  do r = lzma_code(&s, LZMA_FINISH);
  while (r == LZMA_OK && s.avail_out);
  out->resize(maxOut - s.avail_out);
  lzma_end(&s);
  return r == LZMA_STREAM_END;
}

class LzmaCompressor : public Deflater {
 public:
  explicit LzmaCompressor(const lzma_options_lzma &o, bool endMarker) : options_(o), endMarker_(endMarker) {}
  int Method() const override { return 14; }
  uint32_t Flags() const override { return endMarker_ ? 2 : 0; }

  bool Compress(const unsigned char *data, size_t size, std::string *out) override {
    // Anything not smaller than the input is stored instead.
    return size > 0 && Encode(options_, endMarker_, data, size, size - 1, out);
  }

 private:
  lzma_options_lzma options_;
  bool endMarker_;
};

}  // namespace

bool LzmaCompressorAvailable() { return true; }

// The options as the encoder takes them; false when out of range.
static bool EncoderOptions(const LzmaCompressorOptions &options, lzma_options_lzma *o) {
  int level = options.level < 1 ? 1 : options.level;
  uint32_t preset = level >= 10 ? 9 | LZMA_PRESET_EXTREME : (uint32_t)level;
  if (lzma_lzma_preset(o, preset)) return false;
  if (options.lc >= 0) o->lc = (uint32_t)options.lc;
  if (options.lp >= 0) o->lp = (uint32_t)options.lp;
  if (options.pb >= 0) o->pb = (uint32_t)options.pb;
  if (options.dictionary) o->dict_size = options.dictionary;
  return o->lc + o->lp <= LZMA_LCLP_MAX && o->pb <= LZMA_PB_MAX;
}

std::unique_ptr<Deflater> MakeLzmaCompressor(const LzmaCompressorOptions &options) {
  lzma_options_lzma o;
  if (!EncoderOptions(options, &o)) return nullptr;
  return std::unique_ptr<Deflater>(new LzmaCompressor(o, options.endMarker));
}

bool LzmaEncode(const LzmaCompressorOptions &options, const unsigned char *data, size_t size, std::string *out) {
  lzma_options_lzma o;
  return EncoderOptions(options, &o) && Encode(o, options.endMarker, data, size, size + size / 2 + 4096, out);
}

namespace {

struct LzmaStreamState {
  lzma_stream s = LZMA_STREAM_INIT;
  unsigned char header[HEADER_SIZE];
  bool headerOut = false;
};

}  // namespace

LzmaStream::LzmaStream(int level) {
  LzmaCompressorOptions options;
  options.level = level;
  lzma_options_lzma o;
  LzmaStreamState *st = new LzmaStreamState;
  if (EncoderOptions(options, &o) && Begin(&o, false, &st->s, st->header)) {
    state_ = st;
  } else {
    lzma_end(&st->s);
    delete st;
  }
}

LzmaStream::~LzmaStream() {
  LzmaStreamState *st = (LzmaStreamState *)state_;
  if (!st) return;
  lzma_end(&st->s);
  delete st;
}

bool LzmaStream::Add(const unsigned char *data, size_t size, bool finish, std::string *out) {
  LzmaStreamState *st = (LzmaStreamState *)state_;
  if (!st) return false;
  if (!st->headerOut) {
    out->append((const char *)st->header, HEADER_SIZE);
    st->headerOut = true;
  }
  st->s.next_in = data;
  st->s.avail_in = size;
  unsigned char buffer[1 << 16];
  for (;;) {
    st->s.next_out = buffer;
    st->s.avail_out = sizeof buffer;
    lzma_ret r = lzma_code(&st->s, finish ? LZMA_FINISH : LZMA_RUN);
    out->append((const char *)buffer, sizeof buffer - st->s.avail_out);
    if (r == LZMA_STREAM_END) return true;
    if (r != LZMA_OK) return false;
    if (!finish && st->s.avail_in == 0 && st->s.avail_out != 0) return true;
  }
}

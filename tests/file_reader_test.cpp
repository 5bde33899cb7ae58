// The library's file interface (amrnb_file.h): the reader gives amrconv's samples on every
// conformance stream in any block size and from any input; damaged input is a status, never a
// crash; the writer and the frame-size call agree with tables written out here; and
// amrnb_convert_file leaves what the amrconv program leaves, file and status, on good,
// damaged, truncated and unwritable cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "amrnb_decoder.h"
#include "amrnb_file.h"
#include "file_internal.h"
#include "file_platform.h"
#include "test_util.h"

#ifdef AMRCONV_BINARY
#include <signal.h>
#include <sys/resource.h>
#endif

namespace {

using testutil::Bytes;
using Samples = std::vector<int16_t>;

const std::string& kDataDir = testutil::kConformanceDir;
Bytes Stream(const std::string& name) { return testutil::ReadFile(kDataDir + name + ".wav"); }
// amrconv's samples for a stream: its WAV file after the 62-byte header.
Samples AmrconvSamples(const std::string& name) { return testutil::Samples16(testutil::ReadFile(kDataDir + name + ".out.wav"), 62); }

// A read callback over bytes, delivering them in chunks of the sizes in `chunks` (cycled),
// and failing once `fail_at` bytes have been delivered.
struct Feed {
  const Bytes* bytes;
  std::vector<size_t> chunks{1 << 30};
  size_t fail_at = SIZE_MAX;
  size_t pos = 0;
  size_t call = 0;
  static long Read(void* user, void* buffer, size_t size) {
    auto* f = static_cast<Feed*>(user);
    if (f->pos >= f->fail_at) return -1;
    size_t n = std::min({size, f->chunks[f->call++ % f->chunks.size()], f->bytes->size() - f->pos,
                         f->fail_at - f->pos});
    std::memcpy(buffer, f->bytes->data() + f->pos, n);
    f->pos += n;
    return static_cast<long>(n);
  }
};

struct Decoded {
  amrnb_status status;  // of the open, else of the last read
  Samples pcm;
  amrnb_file_stats stats{};
};

// Decodes an opened file in blocks of `block` samples, each block checked to be full but at
// the end.
Decoded DecodeAll(amrnb::File& file, amrnb_status opened, size_t block) {
  Decoded d{opened, {}};
  if (opened != AMRNB_OK) return d;
  Samples buffer(block);
  size_t got = 0;
  bool short_block = false;
  while ((d.status = file.ReadPcm(buffer.data(), block, &got)) == AMRNB_OK && got > 0) {
    EXPECT_FALSE(short_block) << "a block short of " << block << " before the end";
    short_block = got < block;
    d.pcm.insert(d.pcm.end(), buffer.begin(), buffer.begin() + static_cast<long>(got));
  }
  if (d.status != AMRNB_OK) d.pcm.insert(d.pcm.end(), buffer.begin(), buffer.begin() + static_cast<long>(got));
  file.Stats(&d.stats);
  return d;
}

Decoded FromMemory(const Bytes& bytes, size_t block = 4000) {
  amrnb::File file;
  return DecodeAll(file, file.OpenMemory(bytes.data(), bytes.size()), block);
}

Decoded FromFeed(Feed feed, size_t block = 4000) {
  amrnb::File file;
  return DecodeAll(file, file.OpenCallback(Feed::Read, &feed), block);
}

Bytes WithHeader(std::initializer_list<Bytes> frames, uint16_t tag = 310) {
  Bytes b = testutil::AmrWaveHeader(tag);
  for (const Bytes& f : frames) testutil::Append(b, f);
  return b;
}

TEST(FrameBytes, EachLayoutsSizeForEveryFirstByte) {
  const int storage[16] = {13, 14, 16, 18, 20, 21, 27, 32, 6, 32, 1, 1, 1, 1, 1, 1};
  const int if2[16] = {13, 14, 16, 18, 19, 21, 26, 31, 6, 1, 1, 1, 1, 1, 1, 1};
  for (unsigned byte = 0; byte < 256; ++byte) {
    const unsigned s = (byte >> 3) & 15, i = byte & 15;
    EXPECT_EQ(amrnb_frame_bytes(byte, AMRNB_LAYOUT_STORAGE), storage[s]) << byte;
    EXPECT_EQ(amrnb_frame_bytes(byte, AMRNB_LAYOUT_IF2), if2[i]) << byte;
    EXPECT_EQ(amrnb_storage_frame_bytes(byte), storage[s]) << byte;
    EXPECT_EQ(amrnb_frame_bytes(byte, 2), 0);
  }
}

// Reads that give a few bytes at a time, headers and frames split anywhere, in both kinds of
// file. (Every stream in any block size from a path, bytes or a file object, and amrconv's
// storage files: python/tests/test_files.py, through the same calls.)
TEST(FileReader, TrickledCallbackGivesAmrconvsSamples) {
  for (const char* name : {"mixed", "dtx", "speechlike_bad"}) {
    const Bytes wav = Stream(name);
    const Samples expected = AmrconvSamples(name);
    Bytes storage(wav.begin() + 56, wav.end());  // the magic in place of the header's end
    std::memcpy(storage.data(), "#!AMR\n", 6);
    for (const Bytes* file : {&wav, static_cast<const Bytes*>(&storage)}) {
      const Decoded d = FromFeed(Feed{file, {1, 2, 3, 7, 61, 62, 63, 1000, 16384}}, 161);
      EXPECT_EQ(d.status, AMRNB_OK);
      EXPECT_EQ(d.pcm, expected) << name;
      EXPECT_EQ(d.stats.frames * 160, expected.size());
    }
  }
}

// Frames one at a time: their bytes as the file holds them, types counted; the two ways of
// reading do not mix; the header's fields are the file's.
TEST(FileReader, FramesHeaderAndMisuse) {
  const Bytes wav = WithHeader({testutil::Frame(7), testutil::Frame(12), testutil::Frame(8), testutil::Frame(15)});
  amrnb::File file;
  ASSERT_EQ(file.OpenMemory(wav.data(), wav.size()), AMRNB_OK);
  amrnb_wave_header h;
  ASSERT_EQ(file.WaveHeader(&h), AMRNB_OK);
  EXPECT_EQ(std::string(h.riff_id, 4), "RIFF");
  EXPECT_EQ(std::string(h.data_id, 4), "data");
  EXPECT_EQ(h.audio_format, 310u);
  EXPECT_EQ(h.extra_format_bytes, 0x4001);
  EXPECT_EQ(h.byte_rate, 1525);
  uint8_t frame[AMRNB_MAX_FRAME_BYTES];
  size_t size = 0;
  int type = -1;
  size_t at = 62;
  for (int expected_type : {7, 12, 8, 15}) {
    ASSERT_EQ(file.ReadFrame(frame, &size, &type), AMRNB_OK);
    EXPECT_EQ(type, expected_type);
    ASSERT_EQ(Bytes(frame, frame + size), Bytes(wav.begin() + static_cast<long>(at), wav.begin() + static_cast<long>(at + size)));
    at += size;
  }
  EXPECT_EQ(file.ReadFrame(frame, &size, &type), AMRNB_END_OF_STREAM);
  EXPECT_EQ(file.ReadFrame(frame, nullptr, nullptr), AMRNB_END_OF_STREAM);
  size_t got = 5;
  short pcm[160];
  EXPECT_EQ(file.ReadPcm(pcm, 160, &got), AMRNB_ERROR_USAGE);
  EXPECT_EQ(got, 0u);
  amrnb_file_stats stats;
  file.Stats(&stats);
  EXPECT_EQ(stats.frames, 4u);
  EXPECT_EQ(stats.by_type[12], 1u);
  EXPECT_EQ(stats.by_outcome[0] + stats.by_outcome[1], 0u);

  amrnb::File pcm_file;
  ASSERT_EQ(pcm_file.OpenMemory(wav.data(), wav.size()), AMRNB_OK);
  ASSERT_EQ(pcm_file.ReadPcm(pcm, 1, &got), AMRNB_OK);
  EXPECT_EQ(pcm_file.ReadFrame(frame, &size, &type), AMRNB_ERROR_USAGE);

  Bytes storage = {'#', '!', 'A', 'M', 'R', '\n'};
  ASSERT_EQ(file.OpenMemory(storage.data(), storage.size()), AMRNB_OK);
  EXPECT_EQ(file.Kind(), AMRNB_FILE_STORAGE);
  EXPECT_EQ(file.WaveHeader(&h), AMRNB_ERROR_KIND);
  EXPECT_EQ(file.ReadPcm(pcm, 160, &got), AMRNB_OK);
  EXPECT_EQ(got, 0u);

  amrnb_file* raw = nullptr;
  EXPECT_EQ(amrnb_file_open_memory(nullptr, 5, &raw), AMRNB_ERROR_NULL);
  EXPECT_EQ(amrnb_file_open_path("/no/such/dir/x.wav", &raw), AMRNB_ERROR_OPEN);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(amrnb_file_read_pcm(nullptr, pcm, 1, &got), AMRNB_ERROR_NULL);
  EXPECT_EQ(amrnb_file_kind_of(nullptr), 0);
  EXPECT_EQ(amrnb_parse_wave_header(wav.data(), 61, &h), AMRNB_ERROR_SHORT_HEADER);
}

// Damaged sources follow amrconv's rules: a cut-short last frame is dropped and counted, type
// 10..14 bytes are one-byte frames decoded as bad (as amrnb_decode decodes the lone byte), a
// short or empty header is a status from any input. (Short, empty and wrong-tag WAV files read
// from a path, bytes or a file object: python/tests/test_files.py.)
TEST(FileReader, DamagedInputIsAStatusOrAmrconvsRule) {
  Bytes cut = testutil::Frame(7);
  cut.resize(20);
  const Decoded tail = FromMemory(WithHeader({testutil::Frame(0), testutil::Frame(5), cut}), 7);
  EXPECT_EQ(tail.status, AMRNB_OK);
  EXPECT_EQ(tail.pcm, FromMemory(WithHeader({testutil::Frame(0), testutil::Frame(5)})).pcm);
  EXPECT_EQ(tail.stats.frames, 2u);
  EXPECT_EQ(tail.stats.dropped_tail_bytes, 20u);

  // Speech, then a byte of each reserved type, then speech: each byte is one frame.
  std::vector<Bytes> frames = {testutil::Frame(7, 1), testutil::Frame(7, 2)};
  for (int t = 10; t <= 14; ++t) frames.push_back({static_cast<uint8_t>(t << 3 | 4)});
  frames.push_back(testutil::Frame(3, 9));
  Bytes wav = testutil::AmrWaveHeader();
  amrnb::Decoder decoder;
  Samples expected;
  for (const Bytes& f : frames) {
    testutil::Append(wav, f);
    int16_t pcm[160];
    amrnb_outcome outcome;
    ASSERT_EQ(decoder.Decode(f.data(), f.size(), AMRNB_LAYOUT_STORAGE, pcm, &outcome), AMRNB_OK);
    expected.insert(expected.end(), pcm, pcm + 160);
  }
  const Decoded reserved = FromMemory(wav, 161);
  EXPECT_EQ(reserved.pcm, expected);
  EXPECT_EQ(reserved.stats.frames, frames.size());
  EXPECT_EQ(reserved.stats.by_outcome[AMRNB_OUTCOME_CONCEALED], 5u);

  Bytes short_header = testutil::AmrWaveHeader();
  short_header.resize(61);
  EXPECT_EQ(FromMemory({'#', '!', 'A', 'M', 'R'}).status, AMRNB_ERROR_SHORT_HEADER);
  EXPECT_EQ(FromFeed(Feed{&short_header, {5}}).status, AMRNB_ERROR_SHORT_HEADER);
  testutil::TempDir dir;
  testutil::WriteFile(dir.Path("empty"), {});
  amrnb_file* f = nullptr;
  EXPECT_EQ(amrnb_file_open_path(dir.Path("empty").c_str(), &f), AMRNB_ERROR_SHORT_HEADER);
#if defined(_WIN32)  // a directory cannot be opened as a file there
  EXPECT_EQ(amrnb_file_open_path(dir.Path("").c_str(), &f), AMRNB_ERROR_OPEN);
#else  // POSIX opens a directory and fails its read
  EXPECT_EQ(amrnb_file_open_path(dir.Path("").c_str(), &f), AMRNB_ERROR_READ);
#endif
  EXPECT_EQ(f, nullptr);
}

// A callback's error is AMRNB_ERROR_READ wherever it falls, with the samples decoded before it.
TEST(FileReader, CallbackReadErrors) {
  const Bytes wav = Stream("mixed");
  const Samples expected = AmrconvSamples("mixed");
  EXPECT_EQ(FromFeed(Feed{&wav, {100}, 30}).status, AMRNB_ERROR_READ);
  const Decoded d = FromFeed(Feed{&wav, {100}, 1000}, 4000);
  EXPECT_EQ(d.status, AMRNB_ERROR_READ);
  ASSERT_GT(d.pcm.size(), 0u);
  EXPECT_EQ(d.pcm, Samples(expected.begin(), expected.begin() + static_cast<long>(d.pcm.size())));
  // A callback claiming more than it was asked for is an error, not an over-read.
  amrnb_file* f = nullptr;
  EXPECT_EQ(amrnb_file_open_callback([](void*, void*, size_t size) { return static_cast<long>(size + 1); }, nullptr, &f),
            AMRNB_ERROR_READ);
}

// The writer: magic, frames checked against the table, byte for byte what the reader reads back.
TEST(StorageWriter, WritesWhatTheReaderReadsBack) {
  Bytes out;
  auto append = [](void* user, const void* bytes, size_t size) {
    auto* o = static_cast<Bytes*>(user);
    o->insert(o->end(), static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + size);
    return static_cast<long>(size);
  };
  amrnb::StorageWriter writer;
  ASSERT_EQ(writer.OpenCallback(append, &out), AMRNB_OK);
  Bytes frames;
  for (int t = 0; t < 16; ++t) {
    const Bytes f = testutil::Frame(t, static_cast<uint8_t>(t));
    const Bytes one = t >= 10 && t <= 14 ? Bytes{f[0]} : f;
    ASSERT_EQ(writer.Write(one.data(), one.size()), AMRNB_OK) << t;
    testutil::Append(frames, one);
  }
  const Bytes f7 = testutil::Frame(7);
  EXPECT_EQ(writer.Write(f7.data(), 31), AMRNB_ERROR_FRAME_SIZE);
  EXPECT_EQ(writer.Write(f7.data(), 0), AMRNB_ERROR_FRAME_SIZE);
  EXPECT_EQ(writer.Close(), AMRNB_OK);
  Bytes expected = {'#', '!', 'A', 'M', 'R', '\n'};
  testutil::Append(expected, frames);
  EXPECT_EQ(out, expected);

  testutil::TempDir dir;
  ASSERT_EQ(writer.OpenPath(dir.Path("a.amr").c_str()), AMRNB_OK);
  ASSERT_EQ(writer.Write(f7.data(), f7.size()), AMRNB_OK);
  ASSERT_EQ(writer.Close(), AMRNB_OK);
  Bytes one_frame = {'#', '!', 'A', 'M', 'R', '\n'};
  testutil::Append(one_frame, f7);
  EXPECT_EQ(testutil::ReadFile(dir.Path("a.amr")), one_frame);
  EXPECT_EQ(writer.OpenPath(dir.Path("no/such").c_str()), AMRNB_ERROR_OPEN);
#if !defined(_WIN32)  // Windows has no device that fails every write
  ASSERT_EQ(writer.OpenPath("/dev/full"), AMRNB_OK);  // the magic waits in stdio's buffer
  EXPECT_EQ(writer.Close(), AMRNB_ERROR_WRITE);
#endif
  amrnb_storage_writer* w = nullptr;
  EXPECT_EQ(amrnb_storage_writer_open_callback([](void*, const void*, size_t) { return -1L; }, nullptr, &w),
            AMRNB_ERROR_WRITE);
  EXPECT_EQ(w, nullptr);
}

#ifdef AMRCONV_BINARY
// amrnb_convert_file and the amrconv program on the same source: the same status, the same
// destination bytes (or none), and amrconv's failure text among what it printed.
struct Outcome {
  int status;
  bool exists;
  Bytes bytes;
  std::string text;
};

// A destination's bytes; none for a device such as /dev/full, which reads as endless zeros.
Bytes Contents(const std::string& path) {
  return std::filesystem::is_regular_file(path) ? testutil::ReadFile(path) : Bytes{};
}

Outcome Library(const std::string& src, const std::string& dst, int event, uint32_t max_bytes = UINT32_MAX - 54) {
  amrnb_convert_result r;
  EXPECT_EQ(amrnb::file_internal::ConvertFile(src.c_str(), dst.c_str(), event, max_bytes, &r), AMRNB_OK);
  EXPECT_EQ(r.seconds, r.frames * 0.02);
  return {r.exit_status, testutil::Exists(dst), Contents(dst), r.message};
}

Outcome Program(const testutil::TempDir& dir, const std::string& src, const std::string& dst, int event) {
  const testutil::RunResult r = testutil::RunAmrconv(dir, {src, dst, std::to_string(event)});
  return {r.exit_code, testutil::Exists(dst), Contents(dst), r.out};
}

void ExpectSame(const Outcome& library, const Outcome& program) {
  EXPECT_EQ(library.status, program.status);
  EXPECT_EQ(library.exists, program.exists);
  EXPECT_TRUE(library.bytes == program.bytes) << library.bytes.size() << " bytes against " << program.bytes.size();
  EXPECT_NE(program.text.find(library.text), std::string::npos) << "library: " << library.text << "\nprogram: " << program.text;
  EXPECT_EQ(library.text.empty(), program.status == 0);
}

// (Every conformance stream, both events: python/tests/test_files.py.)
TEST(ConvertFile, EqualsAmrconvOnDamagedSourcesAndRefusedDestinations) {
  testutil::TempDir dir;
  std::vector<Bytes> sources;
  Bytes truncated = Stream("mode7");
  truncated.resize(truncated.size() - 5);
  sources.push_back(truncated);
  Bytes reserved = WithHeader({testutil::Frame(7), {0x54}, {0x64}, testutil::Frame(1)});
  sources.push_back(reserved);
  sources.push_back(testutil::AmrWaveHeader());
  Bytes short_header = testutil::AmrWaveHeader();
  short_header.resize(40);
  sources.push_back(short_header);
  sources.push_back(WithHeader({testutil::Frame(7)}, 1));
  Bytes storage = {'#', '!', 'A', 'M', 'R', '\n'};
  testutil::Append(storage, Bytes(reserved.begin() + 62, reserved.end()));
  storage.resize(70, 0);
  sources.push_back(storage);
  for (size_t i = 0; i < sources.size(); ++i) {
    testutil::WriteFile(dir.Path("src.wav"), sources[i]);
    for (int event : {1, 2}) {
      SCOPED_TRACE("source " + std::to_string(i) + ", event " + std::to_string(event));
      ExpectSame(Library(dir.Path("src.wav"), dir.Path("lib"), event), Program(dir, dir.Path("src.wav"), dir.Path("prog"), event));
      std::remove(dir.Path("lib").c_str()), std::remove(dir.Path("prog").c_str());
    }
  }
  // Missing source, destination in no directory, the source itself, a path too long, a FIFO
  // that no program reads (event 1: cannot be rewound; event 2: no reader), a full device, and
  // a destination another writer holds locked (this test, as amrconv would), left as it is.
  testutil::WriteFile(dir.Path("src.wav"), Stream("mode0"));
  ASSERT_EQ(mkfifo(dir.Path("pipe").c_str(), 0600), 0);
  const std::string too_long = dir.Path(std::string(300, 'p'));
  amrnb::file_platform::DestinationOpen how;
  std::FILE* holder = amrnb::file_platform::OpenDestination(dir.Path("held").c_str(), false, &how);
  ASSERT_NE(holder, nullptr);
  ASSERT_EQ(std::fwrite("partial", 1, 7, holder), 7u);
  for (const auto& [src, dst] : {std::pair{dir.Path("none.wav"), dir.Path("x")}, std::pair{dir.Path("src.wav"), dir.Path("no/x")},
                                 std::pair{dir.Path("src.wav"), dir.Path("src.wav")}, std::pair{too_long, dir.Path("x")},
                                 std::pair{dir.Path("src.wav"), dir.Path("pipe")}, std::pair{dir.Path("src.wav"), dir.Path("held")},
                                 std::pair{dir.Path("src.wav"), std::string("/dev/full")}}) {
    for (int event : {1, 2}) {
      SCOPED_TRACE(src + " -> " + dst + ", event " + std::to_string(event));
      const Outcome lib = Library(src, dst, event);
      ExpectSame(lib, Program(dir, src, dst, event));
      EXPECT_FALSE(lib.text.empty());
    }
  }
  EXPECT_EQ(testutil::ReadFile(dir.Path("held")), Bytes({'p', 'a', 'r', 't', 'i', 'a', 'l'}));
  std::fclose(holder);
  amrnb_convert_result r;
  testutil::WriteFile(dir.Path("mixed.wav"), Stream("mixed"));
  ASSERT_EQ(amrnb_convert_file(dir.Path("mixed.wav").c_str(), dir.Path("mixed.out").c_str(), 1, &r), AMRNB_OK);
  const Decoded mixed = FromMemory(Stream("mixed"));
  EXPECT_EQ(r.frames, mixed.stats.frames);
  EXPECT_EQ(r.concealed, mixed.stats.by_outcome[AMRNB_OUTCOME_CONCEALED]);
  EXPECT_GT(r.concealed, 0u);
  EXPECT_EQ(amrnb_convert_file(dir.Path("src.wav").c_str(), dir.Path("x").c_str(), 3, &r), AMRNB_ERROR_USAGE);
  EXPECT_EQ(amrnb_convert_file(nullptr, dir.Path("x").c_str(), 1, &r), AMRNB_ERROR_NULL);
  EXPECT_FALSE(testutil::Exists(dir.Path("x")));
}

// Under a file-size limit (set in a child, SIGXFSZ ignored as amrconv does): the decode job
// loses the frames that do not fit and keeps status 0, the header job stops with 6; the
// library's files equal the program's. And the WAV size bound: status 16, frames that fit.
TEST(ConvertFile, WriteFailuresAndTheSizeBoundLeaveAmrconvsFile) {
  testutil::TempDir dir;
  testutil::WriteFile(dir.Path("src.wav"), Stream("mixed"));
  for (int event : {1, 2}) {
    SCOPED_TRACE(event);
    const rlim_t limit = event == 1 ? 62 + 7 * 320 + 100 : 6 + 250;
    const auto child = [&](bool library) {
      const pid_t pid = fork();
      if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit l{limit, limit};
        setrlimit(RLIMIT_FSIZE, &l);
        const std::string dst = dir.Path(library ? "lib" : "prog");
        if (library) {
          amrnb_convert_result r;
          amrnb_convert_file(dir.Path("src.wav").c_str(), dst.c_str(), event, &r);
          _exit(r.exit_status);
        }
        dup2(open("/dev/null", O_WRONLY), 1);
        execl(AMRCONV_BINARY, AMRCONV_BINARY, dir.Path("src.wav").c_str(), dst.c_str(), std::to_string(event).c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
      }
      int wstatus = 0;
      waitpid(pid, &wstatus, 0);
      return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    };
    const int library_status = child(true);
    EXPECT_EQ(library_status, child(false));
    EXPECT_EQ(library_status, event == 1 ? 0 : 6);
    const Bytes lib = testutil::ReadFile(dir.Path("lib"));
    EXPECT_EQ(lib, testutil::ReadFile(dir.Path("prog")));
    EXPECT_EQ(lib.size(), event == 1 ? 62u + 7 * 320 : limit);
  }
  const Bytes full = testutil::ReadFile(kDataDir + "mixed.out.wav");
  for (uint32_t bound : {3u * 320 + 319, 4u * 320}) {
    const Outcome lib = Library(dir.Path("src.wav"), dir.Path("bounded.wav"), 1, bound);
    const uint32_t kept = bound / 320 * 320;
    EXPECT_EQ(lib.status, 16);
    ASSERT_EQ(lib.bytes.size(), 62u + kept);
    EXPECT_EQ(testutil::Le32(lib.bytes, 58), kept);
    EXPECT_TRUE(std::equal(lib.bytes.begin() + 62, lib.bytes.end(), full.begin() + 62));
  }
}
#endif

}  // namespace

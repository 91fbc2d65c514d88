#include "ziplib/tests/encode_helpers.h"
#include "ziplib/zip_state.h"
#include "ziplib/zip_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <random>

using namespace ziptest;
using namespace ziplib;

namespace {

// The traditional cipher written out again, for decrypting what we wrote.
struct Decryptor {
  std::uint32_t k0 = 0x12345678, k1 = 0x23456789, k2 = 0x34567890;
  explicit Decryptor(const std::string& password) {
    for (char c : password) update(static_cast<unsigned char>(c));
  }
  static std::uint32_t crc(std::uint32_t c, unsigned char b) { return get_crc_table()[(c ^ b) & 0xFF] ^ (c >> 8); }
  void update(unsigned char p) {
    k0 = crc(k0, p);
    k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
    k2 = crc(k2, static_cast<unsigned char>(k1 >> 24));
  }
  std::string decrypt(const std::string& in) {
    std::string out;
    for (unsigned char c : in) {
      const unsigned t = (k2 | 2) & 0xFFFF;
      const unsigned char p = c ^ static_cast<unsigned char>((t * (t ^ 1)) >> 8);
      update(p);
      out += static_cast<char>(p);
    }
    return out;
  }
};

std::string text(std::size_t n) {
  std::string s;
  for (int i = 0; s.size() < n; ++i) s += "Segmental pressure " + std::to_string(i % 97) + " mmHg;\n";
  s.resize(n);
  return s;
}

bool have(const char* tool) { return run(std::string("command -v ") + tool) == 0; }

// An encrypted Deflate entry as the per-file compressor writes it: the
// 12-byte header with the check value, then the coded data, both through
// the writer into the same file.
std::string encrypted_entry(const std::string& data, const std::string& password, std::uint32_t check) {
  ZipState s;
  s.password = password;
  std::FILE* f = std::tmpfile();
  s.out_fd = fileno(f);
  EXPECT_EQ(zipWriteEncryptionHeader(password.c_str(), check, s), 0);
  s.encrypt_entry = true;
  MemoryInput in{&data};
  s.reader = read_memory;
  s.reader_context = &in;
  std::uint16_t flags = 0, attr = 0, method = 8;
  zipDeflateStart(s, 6, &flags);
  zipTreesStart(s, &attr, &method);
  zipDeflate(s);
  std::string out = slurp(f);
  std::fclose(f);
  return out;
}

struct Tmp {
  std::FILE* f = std::tmpfile();
  ~Tmp() { std::fclose(f); }
  int fd() const { return fileno(f); }
  std::string bytes() const { return slurp(f); }
};

}  // namespace

TEST(ZipWriter, EncryptedEntriesDecryptWithTheTraditionalCipher) {
  const std::string data = text(30000);
  const std::uint32_t crc = crc_of(data);
  const std::string stored = encrypted_entry(data, "Pulse-42", crc);

  Decryptor d("Pulse-42");
  const std::string plain = d.decrypt(stored);
  EXPECT_EQ(static_cast<unsigned char>(plain[11]), crc >> 24);
  EXPECT_EQ(static_cast<unsigned char>(plain[10]), static_cast<unsigned char>(~(crc >> 24)));
  std::string back;
  ASSERT_TRUE(inflate_raw(plain.substr(12), &back));
  EXPECT_TRUE(back == data);

  // With a data descriptor the check byte is the high byte of the DOS time.
  const std::uint32_t time_check = 0x7A5Cu << 16;
  Decryptor d2("Pulse-42");
  EXPECT_EQ(static_cast<unsigned char>(d2.decrypt(encrypted_entry(data, "Pulse-42", time_check))[11]), 0x7A);

  if (!have("unzip") || !have("7zz")) GTEST_SKIP() << "unzip or 7zz missing";
  char dir[] = "/tmp/zipcryptXXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/enc.zip";
  std::ofstream(path, std::ios::binary) << build_zip({{"notes.txt", 8, 0x0001, stored, crc, 30000}});
  std::string out;
  EXPECT_EQ(run("unzip -P Pulse-42 -tq " + path, &out), 0) << out;
  EXPECT_EQ(run("7zz t -pPulse-42 " + path, &out), 0) << out;
  EXPECT_NE(run("unzip -P wrong -tq " + path, &out), 0);
  run(std::string("rm -rf ") + dir);
}

TEST(ZipWriter, HeadersNeverRepeatForTheSamePassword) {
  // Two entries in the same second once got the same ten bytes, and with
  // them the same keystream.
  const std::string a = encrypted_entry("", "same", 0x12000000).substr(0, 10);
  const std::string b = encrypted_entry("", "same", 0x12000000).substr(0, 10);
  EXPECT_NE(a, b);
}

TEST(ZipWriter, ASpannedDiskTooSmallForTheBlockIsWrittenIn512BytePieces) {
  struct Disks : VolumeLayer {
    Tmp disk1, disk2;
    std::uint64_t free = 1500;
    std::vector<std::uint64_t> asked;
    int write_volume(ZipState& s, std::uint64_t n) override {
      asked.push_back(n);
      if (n > free) {  // the user changes the disk
        s.out_fd = disk2.fd();
        free = 1u << 20;
      }
      free -= n;
      return 0;
    }
    std::uint64_t disk_free(ZipState&) override { return free; }
    std::uint64_t free_room(ZipState&) override { return 0; }
    int next_part(ZipState&) override { return 0; }
  } disks;
  ZipState s;
  s.multi_vol = kMvMulti;
  s.volumes = &disks;
  s.out_fd = disks.disk1.fd();
  std::string block = text(3000);
  std::string copy = block;
  EXPECT_EQ(zipWriteData(reinterpret_cast<unsigned char*>(copy.data()), copy.size(), s), 3000u);
  EXPECT_EQ(disks.asked, (std::vector<std::uint64_t>{512, 512, 512, 512, 512, 440}));
  EXPECT_EQ(disks.disk1.bytes(), block.substr(0, 1024));
  EXPECT_EQ(disks.disk2.bytes(), block.substr(1024));
  EXPECT_EQ(s.volume_offset, 3000u);
}

TEST(ZipWriter, SplitPartsAreFilledBeforeTheNextOneStarts) {
  struct Parts : VolumeLayer {
    std::vector<std::unique_ptr<Tmp>> parts;
    std::uint64_t used = 0;
    int write_volume(ZipState&, std::uint64_t) override { return 0; }
    std::uint64_t disk_free(ZipState&) override { return 0; }
    std::uint64_t free_room(ZipState& s) override { return 1000 - (s.volume_offset - used); }
    int next_part(ZipState& s) override {
      used = s.volume_offset;
      parts.push_back(std::make_unique<Tmp>());
      s.temp_fd = parts.back()->fd();
      return 0;
    }
  } layer;
  layer.parts.push_back(std::make_unique<Tmp>());
  ZipState s;
  s.multi_vol = kMvMulti | kMvSplit;
  s.volumes = &layer;
  s.temp_fd = layer.parts[0]->fd();
  std::string block = text(2500);
  std::string copy = block;
  EXPECT_EQ(zipWriteData(reinterpret_cast<unsigned char*>(copy.data()), copy.size(), s), 2500u);
  ASSERT_EQ(layer.parts.size(), 3u);
  EXPECT_EQ(layer.parts[0]->bytes(), block.substr(0, 1000));
  EXPECT_EQ(layer.parts[1]->bytes(), block.substr(1000, 1000));
  EXPECT_EQ(layer.parts[2]->bytes(), block.substr(2000));
}

TEST(ZipWriter, MemoryOutputAndTheHostsCopy) {
  static std::string taken;
  static int copy_status = 3;
  static int out_status = 3;
  ZipState s;
  s.memory_output = true;
  s.data_proc = [](int dir, unsigned char* buf, std::uint32_t* len, std::uint64_t, std::uint64_t, void*,
                   int* status) {
    if (dir == 2) {
      *status = copy_status;
    } else {
      taken.append(reinterpret_cast<char*>(buf), *len);
      *status = out_status;
    }
  };
  std::string block = "0123456789";
  EXPECT_EQ(zipWriteData(reinterpret_cast<unsigned char*>(block.data()), 10, s), 10u);
  EXPECT_EQ(taken, "0123456789");
  EXPECT_EQ(s.out_position, 10u);

  out_status = 2;  // the host cancels
  EXPECT_EQ(zipWriteData(reinterpret_cast<unsigned char*>(block.data()), 10, s), 0u);
  EXPECT_TRUE(s.cancel);

  // Bit 12 hands the host a copy first; any answer but 3 stops the writer.
  s.cancel = false;
  out_status = 3;
  s.sub_options = kSubNeedsCallback;
  copy_status = 1;
  EXPECT_EQ(zipWriteData(reinterpret_cast<unsigned char*>(block.data()), 10, s), 0u);
  EXPECT_TRUE(s.cancel);
}

#include "encoding/char_digester.hpp"

#include "encoding/counter_sjis.hpp"
#include "encoding/counter_utf8.hpp"
#include "encoding/encoding_name.hpp"

namespace my {
inline namespace codepage_guess {
namespace {

// One virtual call per block; the counter's loop is inlined behind it.
template <typename Counter>
class CharDigesterImpl final : public CharDigester {
 public:
  void digest(const std::uint8_t* data, std::uint32_t length) final {
    counter_.digest(data, length);
  }
  const std::uint32_t* histogram() const final { return counter_.counts; }
  std::uint32_t errorCount() const final { return counter_.errors; }
  void clearPending() final { counter_.clearPending(); }

 private:
  Counter counter_;
};

}  // namespace

std::unique_ptr<CharDigester> createDigester(const char* name) {
  switch (encodingNamed(name)) {
    case Encoding::SJIS:
      return std::make_unique<CharDigesterImpl<CounterSJIS>>();
    case Encoding::UTF8:
      break;
  }
  return std::make_unique<CharDigesterImpl<CounterUTF8>>();
}

}  // namespace codepage_guess
}  // namespace my

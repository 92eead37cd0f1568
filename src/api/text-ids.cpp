#include "api/text-ids.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "api/engine-lock.h"
#include "api/sentence-road.h"

namespace {

// The road's utterances kept, its pauses passed over.
class UtteranceList : public UtteranceTarget {
 public:
  Outcome speak(const Utterance &utterance, const SourcedText &, float) override {
    utterances.push_back({utterance.phonemes, utterance.ids});
    return Outcome::kDone;
  }
  bool pause(float) override { return true; }

  struct Kept {
    std::string phonemes;
    std::vector<int32_t> ids;
  };
  std::vector<Kept> utterances;
};

size_t aligned(size_t bytes) { return (bytes + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1); }

// One block: the list, the utterances, their ids, their phonemes.
korva_text_ids *packed(const std::vector<UtteranceList::Kept> &kept) {
  const size_t head = aligned(sizeof(korva_text_ids));
  const size_t entries = aligned(kept.size() * sizeof(korva_utterance_ids));
  size_t ids = 0, text = 0;
  for (const auto &u : kept) {
    ids += u.ids.size() * sizeof(int32_t);
    text += u.phonemes.size() + 1;
  }
  auto *block = static_cast<char *>(std::malloc(head + entries + aligned(ids) + text));
  if (!block) throw std::bad_alloc();
  auto *list = reinterpret_cast<korva_text_ids *>(block);
  auto *entry = reinterpret_cast<korva_utterance_ids *>(block + head);
  auto *id = reinterpret_cast<int32_t *>(block + head + entries);
  char *phonemes = block + head + entries + aligned(ids);
  list->n_utterances = static_cast<int>(kept.size());
  list->utterances = entry;
  for (const auto &u : kept) {
    std::memcpy(id, u.ids.data(), u.ids.size() * sizeof(int32_t));
    std::memcpy(phonemes, u.phonemes.c_str(), u.phonemes.size() + 1);
    *entry++ = {phonemes, id, static_cast<int>(u.ids.size())};
    id += u.ids.size();
    phonemes += u.phonemes.size() + 1;
  }
  return list;
}

}  // namespace

korva_text_ids *text_to_ids(const FrontEnd &front_end, const VoiceFacts &voice, const char *text,
                            const korva_options *options) {
  std::string problem;
  const auto request = request_from_options(options, voice, &problem);
  if (!request) {
    record_error("Bad options: %s", problem.c_str());
    return nullptr;
  }
  try {
    UtteranceList list;
    SentenceRoad road(voice, front_end, *request, list);
    const Outcome outcome = reads_whole_text(*request) ? road.speak_whole(text) : road.speak(text);
    return outcome == Outcome::kDone ? packed(list.utterances) : nullptr;
  } catch (const std::bad_alloc &) {
    record_error("Out of memory");
  } catch (const std::exception &e) {
    record_error("Text: %s", e.what());
  }
  return nullptr;
}

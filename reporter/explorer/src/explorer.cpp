#include "morvi/reporter/explorer.hpp"

#include <string>

#include "morvi/errors.hpp"

namespace morvi::reporter::explorer {

struct detail::ExplorerState {
  std::shared_ptr<ReporterClient> client;
  List id_list;
  Value record;
};

Explorer::Explorer(std::shared_ptr<ReporterClient> client, List id_list) {
  if (!client) throw ArgumentError("Explorer needs a reporter client, got none");
  auto state = std::make_shared<detail::ExplorerState>();
  state->client = std::move(client);
  state->id_list = std::move(id_list);
  state->record = state->id_list.empty() ? state->client->get_trialkit()
                                         : state->client->get_section(state->id_list);
  state_ = std::move(state);
  if (state_->record.truthy() && state_->record.is_map()) {
    const Map& record = state_->record.as_map();
    // The child lists point into the shared record rather than copying the identifiers.
    if (const Value* ids = record.find("tasks")) {
      tasks_.emplace(ExplorerSections(std::shared_ptr<const Value>(state_, ids), state_));
    }
    if (const Value* ids = record.find("sections")) {
      sections_.emplace(ExplorerSections(std::shared_ptr<const Value>(state_, ids), state_));
    }
  }
}

Explorer::operator bool() const noexcept { return state_->record.truthy(); }

Value Explorer::field(std::string_view name) const {
  if (state_->record.is_none()) {
    throw LookupError("cannot look up '" + std::string(name) +
                      "': the reporter client returned no record for this node");
  }
  const Value* value = state_->record.as_map().find(name);
  return value ? *value : Value();
}

const List& Explorer::id_list() const noexcept { return state_->id_list; }

const Value& Explorer::record() const noexcept { return state_->record; }

const std::shared_ptr<ReporterClient>& Explorer::client() const noexcept {
  return state_->client;
}

ExplorerSections::ExplorerSections(Value sections, const Explorer& parent)
    : ids_(std::make_shared<const Value>(std::move(sections))), parent_(parent.state_) {}

std::size_t ExplorerSections::size() const { return ids_->as_list().size(); }

Explorer ExplorerSections::operator[](std::ptrdiff_t index) const {
  const List& ids = ids_->as_list();
  const auto size = static_cast<std::ptrdiff_t>(ids.size());
  const std::ptrdiff_t position = index < 0 ? index + size : index;
  if (position < 0 || position >= size) {
    throw LookupError("child index " + std::to_string(index) + " out of range for " +
                      std::to_string(size) + " children");
  }
  List path;
  path.reserve(parent_->id_list.size() + 1);
  path = parent_->id_list;
  path.push_back(ids[static_cast<std::size_t>(position)]);
  return Explorer(parent_->client, std::move(path));
}

ExplorerSections::iterator ExplorerSections::begin() const { return iterator(*this, size()); }

const Explorer& ExplorerSections::iterator::operator*() const {
  if (!current_) current_.emplace(sections_[static_cast<std::ptrdiff_t>(index_)]);
  return *current_;
}

}  // namespace morvi::reporter::explorer

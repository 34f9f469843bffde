#include "alarm/state.h"

namespace halarm {

control::Server_Configuration_Fields configuration;
std::uint32_t subscriptionUid = 0;
bool shuttingDown = false;

std::map<tql::id_t, std::int32_t> remembered_states;
std::map<tql::id_t, std::pair<tql::id_t, std::string>> remembered_acknowledges;
std::map<tql::id_t, std::int64_t> remembered_checkins;

void resetDriverState() {
  configuration = {};
  subscriptionUid = 0;
  shuttingDown = false;
  remembered_states.clear();
  remembered_acknowledges.clear();
  remembered_checkins.clear();
}

}  // namespace halarm

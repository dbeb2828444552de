#include "reader/links/link_ops.h"

namespace vantrel::links {

LinkState& State() {
  static LinkState state;
  return state;
}

}  // namespace vantrel::links

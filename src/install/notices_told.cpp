// The console lines of planning's notices.
#include "install/notices_told.h"

void tell(Console& console, const Notices& notices) {
  for (const Notice& notice : notices) {
    if (notice.error) {
      console.reportError("%s", notice.text.c_str());
    } else {
      console.reportWarning("%s", notice.text.c_str());
    }
  }
}

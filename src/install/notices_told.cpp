// The console lines of planning's notices.
#include "install/notices_told.h"

#include "model/console.h"

void tell(Repository& repository, const Notices& notices) {
  for (const Notice& notice : notices) {
    if (notice.error) {
      reportError(repository, "%s", notice.text.c_str());
    } else {
      reportWarning(repository, "%s", notice.text.c_str());
    }
  }
}

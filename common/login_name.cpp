#include "common/login_name.h"

#include "runtime/product_runtime.h"

namespace common {

std::string login_name() {
    const char* login = sysutl_myloginname();
    return login != nullptr ? login : "";
}

}  // namespace common

// streaminfo does not depend on the platform library, so its users do not see its headers.
#include "platform/log.h"

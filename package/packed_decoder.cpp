#include "package/packed_decoder.h"

// recorderfile probes streams with streaminfo inside; its users do not see streaminfo.
#include "streaminfo/h264_stream.h"

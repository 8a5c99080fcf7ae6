// DownLoad and DLResume: the transfer loops.

#include "DownLoad.h"

namespace carvo {

void DownLoad::DownLoadFile() {}

void DownLoad::DLResume() {}

}  // namespace carvo

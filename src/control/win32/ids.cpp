#include "control/win32/ITelorusX.h"
#include "control/win32/com_util.h"

namespace telorus::control::win32 {

const IID IID_ITelorusX = ToGUID(kITelorusXGuid);
const IID IID_ITelorusXEvents = ToGUID(kITelorusXEventsGuid);
const IID IID_ITelorusX2 = ToGUID(kITelorusX2Guid);
const IID IID_ITelorusXEvents2 = ToGUID(kITelorusXEvents2Guid);
const IID IID_ITelorusX3 = ToGUID(kITelorusX3Guid);
const CLSID CLSID_TelorusX = ToGUID(kTelorusXGuid);
const GUID LIBID_TelorusXControl = ToGUID(kLibraryGuid);

}  // namespace telorus::control::win32

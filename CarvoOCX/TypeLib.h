#pragma once
// The Carvo type library: one table of names, GUIDs, members and identifiers, read by
// dispatch, name lookup, registration and the tests.

#include <carvo/CarvoExport.h>
#include <carvo/automation/TypeInfo.h>

namespace carvo {

namespace dispid {
// _DownLoad properties
inline constexpr DispId SaveLocation = 0x68030000;
inline constexpr DispId CHUNK = 0x68030001;
inline constexpr DispId Url = 0x68030002;
inline constexpr DispId FileSize = 0x68030003;
inline constexpr DispId FileExists = 0x68030004;
inline constexpr DispId KeepType = 0x68030005;
inline constexpr DispId OnlineCheck = 0x68030006;
inline constexpr DispId PromptOverwrite = 0x68030007;
inline constexpr DispId Connected = 0x68030008;
inline constexpr DispId ResumeSupported = 0x68030009;
inline constexpr DispId ROLLBACK = 0x6803000A;
inline constexpr DispId ccancel = 0x6803000B;
inline constexpr DispId CPause = 0x6803000C;
inline constexpr DispId AResume = 0x6803000D;
inline constexpr DispId InDL = 0x6803000E;
inline constexpr DispId FileName = 0x6803000F;
// _DownLoad methods
inline constexpr DispId DownLoad = 0x60030014;
inline constexpr DispId GetFileInformation = 0x60030015;
inline constexpr DispId Cancel = 0x60030016;
inline constexpr DispId DLResume = 0x6003001B;
inline constexpr DispId Pause = 0x6003001C;
inline constexpr DispId GFN = 0x6003001D;
}  // namespace dispid

namespace eventid {
inline constexpr DispId DLComplete = 1;
inline constexpr DispId DLError = 2;
inline constexpr DispId DLECode = 3;
inline constexpr DispId RecievedBytes = 4;
inline constexpr DispId Percent = 5;
inline constexpr DispId StatusChange = 6;
inline constexpr DispId Rate = 7;
inline constexpr DispId TimeLeft = 8;
inline constexpr DispId ConnectionState = 9;
}  // namespace eventid

// OLEMISC bits of the control: set client site first, invisible at run time, activate when
// visible, inside-out, cannot link inside, recompose on resize.
inline constexpr std::uint32_t kDownLoadMiscStatus = 0x20591;
inline constexpr int kControlExtentTwips = 480;
inline constexpr int kToolboxBitmapResource = 30000;

CARVO_API const TypeLibInfo& carvoTypeLib();
CARVO_API const InterfaceInfo& downLoadInterface();       // _DownLoad
CARVO_API const InterfaceInfo& downLoadEventInterface();  // __DownLoad
CARVO_API const InterfaceInfo& aboutInterface();          // _About
CARVO_API const InterfaceInfo& propertiesInterface();     // _DownLoad_Properties

CARVO_API const Guid& clsidDownLoad();
CARVO_API const Guid& clsidAbout();
CARVO_API const Guid& clsidDownLoadProperties();

}  // namespace carvo

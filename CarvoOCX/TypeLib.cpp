#include "TypeLib.h"

namespace carvo {

namespace {

using K = MemberKind;
using T = VType;

const Guid kLibId = Guid::fromString("{04552372-E2A4-11D5-AF92-EDBF0B71F73E}");
const Guid kIidDownLoad = Guid::fromString("{04552373-E2A4-11D5-AF92-EDBF0B71F73E}");
const Guid kClsidDownLoad = Guid::fromString("{04552374-E2A4-11D5-AF92-EDBF0B71F73E}");
const Guid kIidEvents = Guid::fromString("{04552375-E2A4-11D5-AF92-EDBF0B71F73E}");
const Guid kIidAbout = Guid::fromString("{04552376-E2A4-11D5-AF92-EDBF0B71F73E}");
const Guid kClsidAbout = Guid::fromString("{04552377-E2A4-11D5-AF92-EDBF0B71F73E}");
const Guid kIidProperties = Guid::fromString("{04552378-E2A4-11D5-AF92-EDBF0B71F73E}");
const Guid kClsidProperties = Guid::fromString("{04552379-E2A4-11D5-AF92-EDBF0B71F73E}");

const InterfaceInfo kDownLoad{
    "_DownLoad",
    kIidDownLoad,
    ifflags::Hidden | ifflags::Dual | ifflags::NonExtensible | ifflags::OleAutomation |
        ifflags::Dispatchable,
    false,
    {
        {1, "FileName", K::PropertyGet, dispid::FileName, T::String, {}},
        {2, "InDL", K::PropertyGet, dispid::InDL, T::Boolean, {}},
        {3, "AResume", K::PropertyGet, dispid::AResume, T::Boolean, {}},
        {4, "CPause", K::PropertyGet, dispid::CPause, T::Boolean, {}},
        {5, "ccancel", K::PropertyGet, dispid::ccancel, T::Boolean, {}},
        {6, "ROLLBACK", K::PropertyGet, dispid::ROLLBACK, T::Long, {}},
        {7, "ROLLBACK", K::PropertyPut, dispid::ROLLBACK, T::Long, {}},
        {8, "ResumeSupported", K::PropertyGet, dispid::ResumeSupported, T::Boolean, {}},
        {9, "Connected", K::PropertyGet, dispid::Connected, T::Boolean, {}},
        {10, "PromptOverwrite", K::PropertyGet, dispid::PromptOverwrite, T::Boolean, {}},
        {11, "PromptOverwrite", K::PropertyPut, dispid::PromptOverwrite, T::Boolean, {}},
        {12, "OnlineCheck", K::PropertyGet, dispid::OnlineCheck, T::Boolean, {}},
        {13, "OnlineCheck", K::PropertyPut, dispid::OnlineCheck, T::Boolean, {}},
        {14, "KeepType", K::PropertyGet, dispid::KeepType, T::Boolean, {}},
        {15, "KeepType", K::PropertyPut, dispid::KeepType, T::Boolean, {}},
        {16, "FileExists", K::PropertyGet, dispid::FileExists, T::Boolean, {}},
        {17, "FileSize", K::PropertyGet, dispid::FileSize, T::Long, {}},
        {18, "Url", K::PropertyGet, dispid::Url, T::String, {}},
        {19, "CHUNK", K::PropertyGet, dispid::CHUNK, T::Long, {}},
        {20, "SaveLocation", K::PropertyGet, dispid::SaveLocation, T::String, {}},
        {21, "SaveLocation", K::PropertyPut, dispid::SaveLocation, T::String, {}},
        {22, "CHUNK", K::PropertyPut, dispid::CHUNK, T::Long, {}},
        {23, "Url", K::PropertyPut, dispid::Url, T::String, {}},
        {24, "DownLoad", K::Method, dispid::DownLoad, T::Void, {}},
        {25, "GetFileInformation", K::Method, dispid::GetFileInformation, T::Void, {}},
        {26, "Cancel", K::Method, dispid::Cancel, T::Void, {}},
        {27, "DLResume", K::Method, dispid::DLResume, T::Void, {}},
        {28, "Pause", K::Method, dispid::Pause, T::Void, {{"blnPause", T::Boolean, true}}},
        {29, "GFN", K::Method, dispid::GFN, T::String, {{"strFileName", T::String, true}}},
    }};

const InterfaceInfo kEvents{
    "__DownLoad",
    kIidEvents,
    ifflags::Hidden | ifflags::NonExtensible,
    true,
    {
        {1, "DLComplete", K::Method, eventid::DLComplete, T::Void, {}},
        {2, "DLError", K::Method, eventid::DLError, T::Void, {{"lpErrorDescription", T::String, true}}},
        {3, "DLECode", K::Method, eventid::DLECode, T::Void, {{"lErrorCode", T::Long, true}}},
        {4, "RecievedBytes", K::Method, eventid::RecievedBytes, T::Void, {{"lnumBYTES", T::Long, true}}},
        {5, "Percent", K::Method, eventid::Percent, T::Void, {{"lPercent", T::Long, true}}},
        {6, "StatusChange", K::Method, eventid::StatusChange, T::Void, {{"lpStatus", T::String, true}}},
        {7, "Rate", K::Method, eventid::Rate, T::Void, {{"lpRate", T::String, true}}},
        {8, "TimeLeft", K::Method, eventid::TimeLeft, T::Void, {{"lpTime", T::String, true}}},
        {9, "ConnectionState", K::Method, eventid::ConnectionState, T::Void, {{"strState", T::String, true}}},
    }};

const InterfaceInfo kAbout{"_About", kIidAbout,
                           ifflags::Hidden | ifflags::Dual | ifflags::NonExtensible |
                               ifflags::OleAutomation | ifflags::Dispatchable,
                           false, {}};

const InterfaceInfo kProperties{"_DownLoad_Properties", kIidProperties,
                                ifflags::Hidden | ifflags::Dual | ifflags::NonExtensible |
                                    ifflags::OleAutomation | ifflags::Dispatchable,
                                false, {}};

const TypeLibInfo kTypeLib{
    "Carvo",
    kLibId,
    1,
    0,
    0x0409,
    2,  // a control library
    "Carvo: controle de download via HTTP, por Carvo Software",
    {&kDownLoad, &kEvents, &kAbout, &kProperties},
    {
        {"DownLoad", kClsidDownLoad, "Carvo.DownLoad", &kDownLoad, &kEvents, true,
         kDownLoadMiscStatus, kToolboxBitmapResource},
        {"About", kClsidAbout, "", &kAbout, nullptr, false, 0, 0},
        {"DownLoad_Properties", kClsidProperties, "", &kProperties, nullptr, false, 0, 0},
    }};

}  // namespace

const TypeLibInfo& carvoTypeLib() { return kTypeLib; }
const InterfaceInfo& downLoadInterface() { return kDownLoad; }
const InterfaceInfo& downLoadEventInterface() { return kEvents; }
const InterfaceInfo& aboutInterface() { return kAbout; }
const InterfaceInfo& propertiesInterface() { return kProperties; }
const Guid& clsidDownLoad() { return kClsidDownLoad; }
const Guid& clsidAbout() { return kClsidAbout; }
const Guid& clsidDownLoadProperties() { return kClsidProperties; }

}  // namespace carvo

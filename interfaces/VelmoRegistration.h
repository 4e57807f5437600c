// The registry entries of the automation classes NewSMS and MessageCenter
// (ProgIDs, CLSID key, type library and AppID values), written alike by
// the service and, on machines that only call it, by velmops; and the
// client machine's AppID entry, which names the service and nothing else.
#pragma once

namespace velmo::velmolib {

inline constexpr char16_t kNewSmsScript[] = uR"(
HKCR {
  Velmo.NewSMS.1 = s 'NewSMS Class' { CLSID = s '{C7F74FB8-7146-4ae5-9D83-37751212E0A1}' }
  Velmo.NewSMS = s 'NewSMS Class' {
    CLSID = s '{C7F74FB8-7146-4ae5-9D83-37751212E0A1}'
    CurVer = s 'Velmo.NewSMS'
  }
  NoRemove CLSID {
    ForceRemove '{C7F74FB8-7146-4ae5-9D83-37751212E0A1}' = s 'NewSMS Class' {
      ProgID = s 'Velmo.NewSMS'
      VersionIndependentProgID = s 'Velmo.NewSMS'
      ForceRemove Programmable
      TypeLib = s '{3589C97E-0D5E-4b9a-B1C4-FCB5E239A144}'
      val AppID = s '{B14EB58C-00EE-4c08-AE67-DCD6045DDB44}'
    }
  }
}
)";

inline constexpr char16_t kMessageCenterScript[] = uR"(
HKCR {
  Velmo.MessageCenter.1 = s 'MessageCenter Class' { CLSID = s '{B0463299-53D5-4317-9EA1-93E0F15CD05C}' }
  Velmo.MessageCenter = s 'MessageCenter Class' {
    CLSID = s '{B0463299-53D5-4317-9EA1-93E0F15CD05C}'
    CurVer = s 'Velmo.MessageCenter'
  }
  NoRemove CLSID {
    ForceRemove '{B0463299-53D5-4317-9EA1-93E0F15CD05C}' = s 'MessageCenter Class' {
      ProgID = s 'Velmo.MessageCenter'
      VersionIndependentProgID = s 'Velmo.MessageCenter'
      ForceRemove Programmable
      TypeLib = s '{3589C97E-0D5E-4b9a-B1C4-FCB5E239A144}'
      val AppID = s '{B14EB58C-00EE-4c08-AE67-DCD6045DDB44}'
    }
  }
}
)";

inline constexpr char16_t kClientAppIdScript[] = uR"(
HKCR {
  NoRemove AppId {
    ForceRemove '{B14EB58C-00EE-4c08-AE67-DCD6045DDB44}' = s 'velmosvc'
  }
}
)";

}  // namespace velmo::velmolib

// Command and timer identifiers of the main frame.
#pragma once

inline constexpr int ID_APP_ABOUT = 57664;
inline constexpr int ID_APP_EXIT = 57665;
inline constexpr int ID_APP_RESTART = 32773;
inline constexpr int ID_OPTIONS = 32775;
inline constexpr int ID_SHOW_LOG = 32777;

inline constexpr int IDT_IDLE_SWEEP = 1050;
inline constexpr int kIdleSweepPeriodMs = 180000;
// Stalled connections are looked for once a second.
inline constexpr int IDT_CONNECTION_SWEEP = 1051;

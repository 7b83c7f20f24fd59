// One BBS session from connect to hang-up, and the inbound byte dispatcher.
#pragma once
#include <cstdint>

struct Session;
struct UiContext;
struct PhoneEntry;
struct Phonebook;

// Results besides 0 (a session took place) are the connect outcomes:
// -1 failure, -2 cancelled while dialing or connecting, -3 timed out.
//
// The direct path passes a null ui and null entry/phonebook values.
int run_session_common(const char* host, int port, int emulation_type, UiContext* ui,
                       const char* font_name, const char* login_user, const char* login_password,
                       PhoneEntry* entry, Phonebook* phonebook, const char* phonebook_path,
                       int* selected_index, int* first_visible_index);

// Decides who gets one data byte (after Telnet): the transfer engines, the
// quiet time, ZMODEM start detection or the terminal interpreter.
void session_data_byte(Session* s, uint8_t byte);

// Releases the bytes held by ZMODEM start detection to the terminal: with
// force 0 only once they are older than 74 ms, with force 1 at once.
void zmodem_flush_detect(Session* s, int force);

// How long held detection bytes wait before they are shown.
inline constexpr uint32_t kZmodemDetectHoldMs = 74;

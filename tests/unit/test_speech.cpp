// The router against the project's stand-in NVDA client (copied beside a fake exe_dir), the
// stand-in SAPI voice and the stand-in JAWS API (registered in the test prefix, recording into
// VOICE_STUB_DIR and JAWS_STUB_DIR), and JAWS's window, which a case opens and closes itself.
#include "unit.h"
#include <objbase.h>
#include <wchar.h>
#include <string>
#include <vector>
#include "run/log.h"
#include "run/seams.h"
#include "run/settings.h"
#include "speech/routes.h"
#include "speech/speech.h"

namespace {
std::wstring dir;
// What IsHungAppWindow answers about JAWS's window: this program's, whose thread never takes its
// messages, so the real answer would turn to hung a few seconds into the run.
bool jaws_hung = false;
BOOL fake_is_hung(HWND) { return jaws_hung; }

// A fresh router with its exe_dir, log and voice folder in a new temp folder; also a second one
// in a case.
void setup(int which_backend, const char* client = "nvdaControllerClient.dll",
           const wchar_t* client_name = L"nvdaControllerClient.dll") {
    static bool com = SUCCEEDED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED));
    (void)com;
    reset_bridge_state();
    dir = unit_temp_dir();
    format_wide(settings_for_tests().exe_dir, kModulePathCap, L"%ls", dir.c_str());
    format_wide(settings_for_tests().log_path, kPathCap, L"%ls\\TolvaneSpeech.log", dir.c_str());
    SetEnvironmentVariableW(L"VOICE_STUB_DIR", dir.c_str());
    SetEnvironmentVariableW(L"JAWS_STUB_DIR", dir.c_str());
    settings_for_tests().backend = which_backend;
    jaws_hung = false;
    seams.is_hung = fake_is_hung;
    if (client) {
        std::wstring from = unit_doubles_dir() + L"\\" + unit_widen(client);
        CopyFileW(from.c_str(), (dir + L"\\" + client_name).c_str(), FALSE);
    }
    open_log(false);
}

void control_nvda(const std::string& text) { unit_write_file(dir + L"\\nvda_control.txt", text); }
void control_voice(const std::string& text) { unit_write_file(dir + L"\\voice_control.txt", text); }
void control_jaws(const std::string& text) { unit_write_file(dir + L"\\jaws_control.txt", text); }

// JAWS runs while a window of its class exists: this process's own, hidden, stands in for it.
HWND jaws_window = NULL;
void jaws_running(bool running) {
    static const ATOM registered = [] {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(NULL);
        wc.lpszClassName = L"JFWUI2";
        return RegisterClassW(&wc);
    }();
    (void)registered;
    if (running && !jaws_window)
        jaws_window = CreateWindowExW(0, L"JFWUI2", L"JAWS", WS_OVERLAPPED, 0, 0, 10, 10, NULL, NULL,
                                      GetModuleHandleW(NULL), NULL);
    if (!running && jaws_window) DestroyWindow(jaws_window);
    if (!running) jaws_window = NULL;
}

// Record lines without their time, filtered: "cancelSpeech", "speakText\t0\tHello", ...
std::vector<std::string> events(const wchar_t* file, const char* skip = "testIfRunning attach detach") {
    std::vector<std::string> out;
    for (const std::string& line : unit_lines(unit_read_file(dir + L"\\" + file))) {
        std::string rest = line.substr(line.find('\t') + 1);
        std::string name = rest.substr(0, rest.find('\t'));
        if (std::string(" ") .append(skip).append(" ").find(" " + name + " ") == std::string::npos)
            out.push_back(rest);
    }
    return out;
}
// The stand-in client's record; by default its speech calls only.
std::vector<std::string> nvda(const char* skip = "testIfRunning attach detach") {
    return events(L"nvda_calls.txt", skip);
}
std::vector<std::string> voice(void) { return events(L"voice_calls.txt", ""); }
std::vector<std::string> jaws(void) { return events(L"jaws_calls.txt", ""); }

std::string log_text(void) { return unit_read_file(dir + L"\\TolvaneSpeech.log"); }
std::vector<std::string> list(std::initializer_list<const char*> items) {
    return std::vector<std::string>(items.begin(), items.end());
}
std::string joined(const std::vector<std::string>& v) {
    std::string s;
    for (const std::string& x : v) s += "[" + x + "]";
    return s;
}
}  // namespace

// Each backend's routes exist and auto tries every screen reader before the voice; each route has
// a backend of its own number that tries it alone; numbers and words are not shared; --say's code
// for a route that spoke is a documented one, never that of "not spoken".
TEST(route_and_backend_tables_agree) {
    // The place of a route in a backend's order; kBackendRoutesMax when it is not there.
    auto place = [](const speech_backend_row& row, int route) {
        int at = 0;
        while (at < kBackendRoutesMax && row.routes[at] != route) at++;
        return at;
    };
    for (const speech_backend_row& row : kSpeechBackends) {
        for (int route : row.routes) CHECK(route == kRouteNone || say_exit_code(route) != kSayNotSpoken);
        for (const speech_backend_row& other : kSpeechBackends)
            CHECK(&other == &row || (other.backend != row.backend && _wcsicmp(other.word, row.word) != 0));
    }
    for (const speech_route_row& row : kSpeechRoutes) {
        CHECK(row.say_exit_code == 0 || row.say_exit_code == 10);
        int rows = 0, alone = 0;
        for (const speech_route_row& other : kSpeechRoutes) rows += other.route == row.route;
        for (const speech_backend_row& backend_row : kSpeechBackends)
            alone += backend_row.backend == row.route && place(backend_row, row.route) == 0 &&
                     place(backend_row, kRouteNone) == 1;
        CHECK(row.route != kRouteNone && rows == 1 && alone == 1);
    }
    const speech_backend_row& automatic = kSpeechBackends[0];
    REQUIRE(automatic.backend == kBackendAuto);
    CHECK(place(automatic, kRouteSapi) < kBackendRoutesMax);
    for (int screen_reader : {kRouteNvda, kRouteJaws}) CHECK(place(automatic, screen_reader) < place(automatic, kRouteSapi));
}

TEST(nvda_route_interrupts_and_queues) {
    setup(kBackendAuto);
    load_nvda_client();
    REQUIRE(nvda_client_loaded());
    speak(L"Hello", true);
    speak(L"World", false);
    CHECK_EQ(joined(nvda()), joined(list({"cancelSpeech", "speakText\t0\tHello", "speakText\t0\tWorld"})));
    CHECK_EQ(speech_route, (int)kRouteNvda);
    CHECK_EQ(lines_spoken, 2u);
    std::string log = log_text();
    CHECK(log.find("NVDA: loaded nvdaControllerClient.dll\r\n") != std::string::npos);
    CHECK(log.find("say!: Hello\r\n") != std::string::npos);
    CHECK(log.find("say+: World\r\n") != std::string::npos);
    CHECK_EQ(unit_count(log, "speech output now: NVDA"), 1);
    CHECK(voice().empty());
}

TEST(auto_falls_back_to_sapi_and_returns_to_nvda) {
    setup(kBackendAuto);
    load_nvda_client();
    control_nvda("running=0\n");
    speak(L"one", true);
    speak(L"two", false);
    CHECK_EQ(speech_route, (int)kRouteSapi);
    control_nvda("running=1\n");
    speak(L"three", false);
    CHECK_EQ(speech_route, (int)kRouteNvda);
    CHECK_EQ(joined(voice()), joined(list({"create\t0x00000000", "Speak\t19\t0x00000000\tone",
                                           "Speak\t17\t0x00000000\ttwo", "Speak\t2\t0x00000000\t(null)"})));
    CHECK_EQ(joined(nvda()), joined(list({"speakText\t0\tthree"})));
    std::string log = log_text();
    size_t created = log.find("SAPI: voice created"), to_sapi = log.find("speech output now: SAPI"),
           to_nvda = log.find("speech output now: NVDA");
    CHECK(created != std::string::npos && created < to_sapi && to_sapi < to_nvda && to_nvda != std::string::npos);
}

// An alert is one speakSsml at priority now (2), NVDA's symbol level (-1), asynchronous, without a
// cancel, its text escaped and what XML forbids as spaces. An NVDA that refuses it (an older one:
// 1717) gets alerts interrupting and is not asked again until it has been away.
TEST(nvda_alert_is_priority_speech_until_nvda_refuses_it) {
    setup(kBackendNvda);
    load_nvda_client();
    speak(L"queued", false);
    const wchar_t text[] = {L'<', L'a', L'&', L'"', L'\'', L'>', 0x01, L'\t', 0xD800, L'b', 0xDC00,
                            0xD83D, 0xDE00, 0xFFFE, 0xFFFF, L'\n', 0xD800, 0};
    speak_alert(text);
    control_nvda("ssml_status=1717\n");
    speak_alert(L"one");
    speak_alert(L"two");
    control_nvda("running=0\nssml_status=1717\n");
    speak_alert(L"away");
    control_nvda("ssml_status=1717\n");
    speak_alert(L"three");
    control_nvda("");
    speak_alert(L"four");
    CHECK_EQ(joined(nvda()),
             joined(list({"speakText\t0\tqueued",
                          "speakSsml\t0\t2\t-1\t1\t<speak>&lt;a&amp;&quot;&apos;&gt; \\t b \xF0\x9F\x98\x80  \\n </speak>",
                          "speakSsml\t1717\t2\t-1\t1\t<speak>one</speak>", "cancelSpeech", "speakText\t0\tone",
                          "cancelSpeech", "speakText\t0\ttwo", "speakSsml\t1717\t2\t-1\t1\t<speak>three</speak>",
                          "cancelSpeech", "speakText\t0\tthree", "cancelSpeech", "speakText\t0\tfour"})));
    CHECK_EQ(unit_count(log_text(), "NVDA: no priority speech (error 1717); alerts interrupt\r\n"), 2);
    CHECK_EQ(lines_spoken, 7u);
}

TEST(nvda_failure_speaks_the_same_text_through_sapi) {
    setup(kBackendAuto);
    load_nvda_client();
    control_nvda("speak_status=5\n");
    speak(L"again", true);
    CHECK(log_text().find("NVDA: speakText returned 5\r\n") != std::string::npos);
    CHECK_EQ(joined(voice()), joined(list({"create\t0x00000000", "Speak\t19\t0x00000000\tagain"})));
    CHECK_EQ(speech_route, (int)kRouteSapi);

    setup(kBackendNvda);
    load_nvda_client();
    control_nvda("speak_status=4294967295\n");
    speak(L"lost", false);
    CHECK(log_text().find("NVDA: speakText returned 4294967295\r\n") != std::string::npos);
    CHECK(voice().empty());
    CHECK_EQ(speech_route, (int)kRouteNone);
}

TEST(nvda_backend_drops_silently_when_nvda_is_away) {
    setup(kBackendNvda);
    load_nvda_client();
    speak(L"first", true);
    control_nvda("running=0\n");
    speak(L"dropped", true);
    CHECK_EQ(speech_route, (int)kRouteNvda);
    CHECK_EQ(joined(nvda()), joined(list({"cancelSpeech", "speakText\t0\tfirst"})));
    CHECK(voice().empty());
    // The dropped text's say line is the log's last line.
    const std::string log = log_text(), last = "say!: dropped\r\n";
    CHECK(log.size() >= last.size() && log.compare(log.size() - last.size(), last.size(), last) == 0);
}

TEST(log_backend_never_speaks) {
    setup(kBackendLog);
    load_nvda_client();
    speak(L"a", true);
    speak(L"b", false);
    speak_alert(L"c");
    stop_speech();
    CHECK_EQ(speech_route, (int)kRouteLog);
    CHECK_EQ(lines_spoken, 3u);
    CHECK(log_text().find("say^: c\r\n") != std::string::npos);
    CHECK_EQ(unit_count(log_text(), "speech output now: log-only"), 1);
    CHECK(nvda().empty());
    CHECK(voice().empty());
}

TEST(sapi_creation_is_tried_once) {
    setup(kBackendSapi);
    control_voice("create_hr=0x80004005\n");
    speak(L"a", true);
    speak(L"b", true);
    CHECK_EQ(joined(voice()), joined(list({"create\t0x80004005"})));
    std::string log = log_text();
    CHECK_EQ(unit_count(log, "SAPI: CoCreateInstance failed hr=0x80004005"), 1);
    CHECK_EQ(unit_count(log, "SAPI"), 1);
    CHECK_EQ(speech_route, (int)kRouteNone);
    speak_alert(L"c");  // nor does an alert
    CHECK_EQ(joined(voice()), joined(list({"create\t0x80004005"})));

    // An alert voice that cannot be had is tried once; alerts then interrupt the voice.
    setup(kBackendSapi);
    speak(L"a", false);
    control_voice("create_hr=0x80004005\n");
    speak_alert(L"b");
    speak_alert(L"c");
    CHECK_EQ(joined(voice()), joined(list({"create\t0x00000000", "Speak\t17\t0x00000000\ta", "create\t0x80004005",
                                           "Speak\t19\t0x00000000\tb", "Speak\t19\t0x00000000\tc"})));
    CHECK_EQ(unit_count(log_text(), "SAPI: alert voice not created hr=0x80004005; alerts interrupt the voice\r\n"), 1);
}

// An alert creates the voice first, then the alert voice beside it, with the same settings (the
// first installed voice whose name holds Voice, in any case); alerts queue on it, a stop or an
// interrupting text silences both, and the end waits for and releases both.
TEST(sapi_alerts_have_a_voice_of_their_own_at_alert_priority) {
    setup(kBackendSapi);
    settings_for_tests().voice_rate = -3;
    settings_for_tests().voice_volume = 40;
    format_wide(settings_for_tests().voice_name, kSettingTextCap, L"%ls", L"TEST voice");  // both; the first
    speak_alert(L"first");
    speak_alert(L"second");
    speak(L"queued", false);
    stop_speech();
    speak_alert(L"third");
    speak(L"cut", true);
    CHECK_EQ(joined(voice()),
             joined(list({"create\t0x00000000", "SetRate\t-3", "SetVolume\t40", "SetVoice\tTest Alto",
                          "create\t0x00000000", "2:SetPriority\t1", "2:SetRate\t-3", "2:SetVolume\t40",
                          "2:SetVoice\tTest Alto", "2:Speak\t17\t0x00000000\tfirst", "2:Speak\t17\t0x00000000\tsecond",
                          "Speak\t17\t0x00000000\tqueued", "2:Speak\t2\t0x00000000\t(null)", "Speak\t2\t0x00000000\t(null)",
                          "2:Speak\t17\t0x00000000\tthird", "2:Speak\t2\t0x00000000\t(null)",
                          "Speak\t19\t0x00000000\tcut"})));
    const std::string log = log_text();
    CHECK(log.find("SAPI: voice created\r\n") != std::string::npos);
    CHECK(log.find("SAPI voice: Alto Test Voice, rate -3, volume 40\r\n") != std::string::npos);
    CHECK(log.find("say^: first\r\n") != std::string::npos);
    CHECK_EQ(speech_route, (int)kRouteSapi);
    // The end waits for both within one budget; each second of this clock is one reading.
    seams.tick = [] {
        static uint64_t now = 0;
        return now += 1000;
    };
    end_speech(2500);
    CHECK(joined(voice()).find("[WaitUntilDone\t2500][2:WaitUntilDone\t1500][2:release][release]") != std::string::npos);
}

TEST(sapi_speak_failure_keeps_voice_and_route) {
    setup(kBackendSapi);
    speak(L"ok", false);
    control_voice("speak_hr=0x80070005\n");
    speak(L"refused", false);
    CHECK(log_text().find("SAPI: Speak failed hr=0x80070005\r\n") != std::string::npos);
    CHECK_EQ(speech_route, (int)kRouteSapi);
    control_voice("");
    speak(L"ok again", false);
    CHECK_EQ(unit_count(joined(voice()), "create"), 1);
    CHECK_EQ(unit_count(joined(voice()), "Speak\t17\t0x00000000"), 2);
}

// NVDA is silenced under every backend but log; JAWS, running, only under one that uses it.
TEST(stop_speech_silences_the_backends_routes_and_nvda) {
    setup(kBackendSapi);
    load_nvda_client();
    jaws_running(true);
    speak(L"x", false);
    stop_speech();
    CHECK_EQ(joined(nvda()), joined(list({"cancelSpeech"})));  // NVDA is never asked to speak
    CHECK_EQ(voice().back(), std::string("Speak\t2\t0x00000000\t(null)"));
    control_nvda("running=0\n");
    stop_speech();
    CHECK_EQ(joined(nvda()), joined(list({"cancelSpeech"})));
    CHECK_EQ(speech_route, (int)kRouteSapi);
    CHECK(jaws().empty());

    setup(kBackendNvda);
    load_nvda_client();
    stop_speech();
    jaws_running(false);
    CHECK_EQ(joined(nvda()), joined(list({"cancelSpeech"})));
    CHECK(jaws().empty());
}

// The end of a mode waits for the voice only when it spoke last, and lets go of everything: --say
// too unloads the client its start loaded.
TEST(end_waits_only_for_sapi_and_unloads_the_client) {
    setup(kBackendSapi);
    speak(L"x", false);
    end_speech(3000);
    CHECK_EQ(joined(voice()).find("[WaitUntilDone\t3000][release]") != std::string::npos, true);

    setup(kBackendAuto);
    load_nvda_client();
    control_nvda("running=0\n");
    speak(L"sapi", false);
    control_nvda("");
    speak(L"nvda", false);
    end_speech(3000);
    std::string v = joined(voice());
    CHECK(v.find("WaitUntilDone") == std::string::npos);
    CHECK(v.find("[release]") != std::string::npos);
    CHECK(!nvda_client_loaded());
    CHECK_EQ(nvda("").back(), std::string("detach\tfree"));
}

TEST(say_lines_stop_after_2000_texts) {
    setup(kBackendLog);
    for (int i = 0; i < 2001; i++) speak(L"t", (i & 1) != 0);
    CHECK_EQ(lines_spoken, 2001u);
    std::string log = log_text();
    CHECK_EQ(unit_count(log, "say!: t\r\n") + unit_count(log, "say+: t\r\n"), 2000);
}

TEST(say_line_of_text_that_cannot_be_converted) {
    setup(kBackendAuto);
    load_nvda_client();
    const wchar_t unpaired[] = {L'a', 0xD800, L'b', 0};
    speak(unpaired, true);
    CHECK(log_text().find("say!: \r\n") != std::string::npos);
    CHECK_EQ(joined(nvda()), joined(list({"cancelSpeech", "speakText\t0\ta\xef\xbf\xbd" "b"})));
    std::wstring long_text(3000, L'w');
    speak(long_text.c_str(), false);  // too long for the say line's copy, spoken whole
    CHECK(log_text().find("say+: \r\n") != std::string::npos);
    CHECK_EQ(nvda().back().size(), (size_t)(12 + 3000));
}

TEST(a_client_lacking_an_export_is_freed_and_the_other_name_is_loaded) {
    setup(kBackendAuto, "nvda_stub_missing_export.dll");
    CopyFileW((unit_doubles_dir() + L"\\nvdaControllerClient.dll").c_str(),
              (dir + L"\\nvdaControllerClient64.dll").c_str(), FALSE);
    load_nvda_client();
    CHECK(nvda_client_loaded());
    std::string log = log_text();
    CHECK(log.find("NVDA: nvdaControllerClient.dll lacks expected exports\r\n") != std::string::npos);
    CHECK(log.find("NVDA: loaded nvdaControllerClient64.dll\r\n") != std::string::npos);
    CHECK_EQ(unit_count(log, "NVDA:"), 2);
}

TEST(a_loaded_client_is_not_loaded_again) {
    setup(kBackendAuto);
    load_nvda_client();
    load_nvda_client();
    CHECK(nvda_client_loaded());
    CHECK_EQ(unit_count(log_text(), "NVDA:"), 1);
}

TEST(a_client_file_that_is_no_library_is_logged_and_the_search_goes_on) {
    setup(kBackendAuto, NULL);
    unit_write_file(dir + L"\\nvdaControllerClient.dll", "not a library");
    load_nvda_client();
    CHECK(!nvda_client_loaded());
    CHECK(!nvda_answers());
    std::string log = log_text();
    CHECK(log.find("NVDA: LoadLibrary(nvdaControllerClient.dll) failed, error ") != std::string::npos);
    CHECK(log.find("NVDA: controller client DLL not available; SAPI only\r\n") != std::string::npos);
}

TEST(no_client_beside_the_exe_is_one_log_line) {
    setup(kBackendNvda, NULL);
    load_nvda_client();
    CHECK_EQ(joined(unit_log_messages(dir + L"\\TolvaneSpeech.log")),
             joined(list({"NVDA: controller client DLL not available; SAPI only"})));
}

TEST(unload_frees_the_client) {
    setup(kBackendAuto);
    load_nvda_client();
    unload_nvda_client();
    CHECK(!nvda_client_loaded());
    CHECK_EQ(nvda("").back(), std::string("detach\tfree"));
}

// Under auto JAWS speaks when NVDA does not, an alert interrupting (JAWS has no priorities). Each
// text is shown as JAWS reads a script string: quotes turned into apostrophes, backslashes kept,
// control characters as spaces. A failure of that is logged once while speech goes on.
TEST(under_auto_jaws_speaks_when_nvda_does_not_and_shows_each_text_as_a_script_string) {
    setup(kBackendAuto);
    load_nvda_client();
    jaws_running(true);
    speak(L"both answer", true);  // NVDA wins, and JAWS is not even asked
    CHECK(jaws().empty());
    CHECK_EQ(nvda().back(), std::string("speakText\t0\tboth answer"));
    control_nvda("running=0\n");
    speak(L"He said \"go\"", false);
    speak_alert(L"C:\\Games\\");
    speak(L"\\o/ \\n\tend", false);
    control_jaws("run_result=0\n");
    speak(L"queued", false);
    speak(L"again", false);
    jaws_running(false);
    CHECK_EQ(speech_route, (int)kRouteJaws);
    // The record escapes a backslash as two.
    CHECK_EQ(joined(jaws()),
             joined(list({"create\t0x00000000", "SayString\t0\t1\tHe said \"go\"",
                          "RunFunction\t1\tBrailleString(\"He said 'go'\")", "SayString\t1\t1\tC:\\\\Games\\\\",
                          "RunFunction\t1\t" R"(BrailleString("C:\\Games\\"))", "SayString\t0\t1\t\\\\o/ \\\\n\\tend",
                          "RunFunction\t1\t" R"(BrailleString("\\o/ \\n end"))", "SayString\t0\t1\tqueued",
                          "RunFunction\t0\tBrailleString(\"queued\")", "SayString\t0\t1\tagain",
                          "RunFunction\t0\tBrailleString(\"again\")"})));
    const std::string log = log_text();
    CHECK_EQ(unit_count(log, "braille: JAWS RunFunction failed"), 1);
    CHECK_EQ(unit_count(log, "braille:"), 1);
    CHECK_EQ(unit_count(log, "JAWS:"), 0);
}

// JAWS that quits leaves the speech to the voice; JAWS that comes back is a new object, whose TRUE
// may come as an integer, and silences the voice. With braille off it is sent no braille.
TEST(jaws_that_quits_hands_over_to_the_voice_and_comes_back_as_a_new_object) {
    setup(kBackendAuto, NULL);
    jaws_running(true);
    speak(L"jaws", true);
    jaws_running(false);
    speak(L"by voice", false);
    CHECK_EQ(speech_route, (int)kRouteSapi);
    jaws_running(true);
    control_jaws("answer_vt=3\n");
    settings_for_tests().braille_enabled = false;
    speak(L"back", true);
    stop_speech();
    end_speech(3000);
    jaws_running(false);
    CHECK_EQ(joined(jaws()), joined(list({"create\t0x00000000", "SayString\t1\t1\tjaws",
                                          "RunFunction\t1\tBrailleString(\"jaws\")", "release",
                                          "create\t0x00000000", "SayString\t1\t1\tback", "StopSpeech",
                                          "release"})));
    CHECK_EQ(joined(voice()), joined(list({"create\t0x00000000", "Speak\t17\t0x00000000\tby voice",
                                           "Speak\t2\t0x00000000\t(null)", "Speak\t2\t0x00000000\t(null)",
                                           "release"})));
    const std::string log = log_text();
    const size_t to_jaws = log.find("speech output now: JAWS"), to_sapi = log.find("speech output now: SAPI");
    CHECK(to_jaws != std::string::npos && to_jaws < to_sapi);
    CHECK(log.find("speech output now: JAWS", to_sapi) != std::string::npos);
}

// Each appearance of JAWS's window gets one creation and one log line of a failing SayString.
TEST(jaws_backend_drops_what_jaws_cannot_take_and_logs_once_each_time_jaws_starts) {
    setup(kBackendJaws, NULL);
    speak(L"nobody runs", true);  // no window: dropped, and the object is not made
    jaws_running(true);
    control_jaws("say_result=0\n");
    speak(L"refused", true);
    speak(L"refused again", true);
    jaws_running(false);
    jaws_running(true);
    control_jaws("invoke_hr=0x80010108\n");
    speak(L"broken", true);
    CHECK_EQ(speech_route, (int)kRouteNone);
    CHECK_EQ(joined(jaws()), joined(list({"create\t0x00000000", "SayString\t1\t0\trefused",
                                          "SayString\t1\t0\trefused again", "release", "create\t0x00000000",
                                          "refused\t0x80010108\tSayString"})));
    std::string log = log_text();
    CHECK_EQ(unit_count(log, "JAWS: SayString failed (hr=0x00000000)\r\n"), 1);
    CHECK_EQ(unit_count(log, "JAWS: SayString failed (hr=0x80010108)\r\n"), 1);

    setup(kBackendJaws, NULL);
    control_jaws("create_hr=0x80040154\n");
    speak(L"a", true);
    control_jaws("");
    speak(L"b", true);  // off while this window lasts
    stop_speech();
    jaws_running(false);
    jaws_running(true);  // JAWS restarted: tried again
    speak(L"c", true);
    jaws_running(false);
    CHECK_EQ(joined(jaws()), joined(list({"create\t0x80040154", "create\t0x00000000", "SayString\t1\t1\tc",
                                          "RunFunction\t1\tBrailleString(\"c\")"})));
    CHECK_EQ(unit_count(log_text(), "JAWS: API not available (hr=0x80040154)"), 1);
    CHECK(voice().empty());
}

// A hung JAWS is neither created, spoken to nor stopped: auto moves on to the voice, and each hang
// is logged once.
TEST(a_hung_jaws_is_skipped) {
    setup(kBackendAuto, NULL);
    jaws_running(true);
    jaws_hung = true;
    speak(L"hung", true);
    speak(L"still hung", false);
    stop_speech();
    jaws_hung = false;
    speak(L"answers", false);
    jaws_hung = true;
    speak(L"hung again", false);
    jaws_running(false);
    CHECK_EQ(joined(jaws()), joined(list({"create\t0x00000000", "SayString\t0\t1\tanswers",
                                          "RunFunction\t1\tBrailleString(\"answers\")"})));
    CHECK_EQ(joined(voice()), joined(list({"create\t0x00000000", "Speak\t19\t0x00000000\thung",
                                           "Speak\t17\t0x00000000\tstill hung", "Speak\t2\t0x00000000\t(null)",
                                           "Speak\t2\t0x00000000\t(null)", "Speak\t17\t0x00000000\thung again"})));
    CHECK_EQ(unit_count(log_text(), "JAWS: not responding; skipped\r\n"), 2);
}

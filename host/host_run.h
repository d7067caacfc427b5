// Run modes of the host program, private to the program (host_main chooses
// one). Each run opens what it needs, loops, closes what it opened and
// returns the process exit code (HOST_EXIT_* of host/host.h).
#pragma once

#include "host/host.h"

// Navigation modes (rtk_mode 0): real time with a target on a serial port
// (mode HOST_LOGGING), or replay of log_data.dat / sd_log.dat. HOST_EXIT_OK
// at the end of the run (end of the replay file, --count, finish.txt), also
// after a start-up handshake that timed out; HOST_EXIT_START when the port or
// the replay file cannot be opened or the SD-card log header is short;
// HOST_EXIT_OUTPUT_FAULT when log_data.dat, rtc_data.dat or a start-up file
// cannot be created or written (the run stops, one message on stderr; "Save
// initilize files..." only when both images were saved);
// HOST_EXIT_INPUT_FAULT when the target's port hung up (one message on
// stderr; the run then closes down as after Ctrl-C); HOST_EXIT_INTERRUPTED
// when SIGINT, SIGTERM or SIGHUP ended the run after its close-down.
int HOST_run_navigation(const HOST_PARAM_T& p);

// Real-time RTK (rtk_mode not 0, mode HOST_LOGGING): rover port, optional
// base and solution output ports, every byte recorded in rb.bin (created
// after the ports are open, written in whole records at least every
// HOST_REC_FLUSH_MS). Runs until SIGINT, SIGTERM or SIGHUP:
// HOST_EXIT_INTERRUPTED then, after the close-down; HOST_EXIT_START when a
// port or rb.bin cannot be opened; HOST_EXIT_OUTPUT_FAULT when a write of
// rb.bin fails (the run then closes down by itself, one message on stderr);
// HOST_EXIT_INPUT_FAULT when the rover port hung up (one message on stderr,
// then the close-down). A base or output port that hangs up is named once on
// stderr and the run goes on without it.
int HOST_run_rtk_realtime(const HOST_PARAM_T& p);

// File RTK (rtk_mode not 0, mode HOST_REPLAY): CRVRAW rover and base files,
// RINEX observation files on either side (--rover-rinex / --base-rinex with
// --nav), or a real-time recording (--rb-file). Writes Normal_sol.txt,
// Geotagging_sol.txt and the KML files; a progress line and the summary on
// stderr, then one line per kind of input dropped (CRVRAW frames by checksum
// and length, CRVRAW messages by reason, RTCM 3 frames with a bad CRC, RINEX
// values out of range, rover epochs without a base epoch within 30 s) and,
// for a recording, a hint when the base stream looks like the other format
// than --is-rtcm says. Exit codes:
//   HOST_EXIT_OK           the run completed (dropped frames and values only warned about);
//   HOST_EXIT_START        the rover or base cannot be opened (or there is no input);
//   HOST_EXIT_INPUT_FAULT  an input is unusable (bad RINEX header, no GPS pseudorange type,
//                          no navigation data, no base position), had faults (bad RINEX
//                          lines, recording records too long), the rover gave no epoch,
//                          or no solved epoch had a base ("no usable base epoch");
//   HOST_EXIT_OUTPUT_FAULT a solution or KML file cannot be created or written (the run
//                          stops at that epoch; one message on stderr, after the others);
//   HOST_EXIT_INTERRUPTED  SIGINT, SIGTERM or SIGHUP stopped the run between two epochs:
//                          the files end with the last whole epoch and are closed, the
//                          summary is printed, then "talonhost: RTK run interrupted after
//                          N epochs". An output fault outranks it; it outranks the rest.
int HOST_run_rtk_file(const HOST_PARAM_T& p);

// Stop request of the navigation, real-time RTK and file RTK loops: set by
// sigint_handler or by the loop itself (end of replay, epoch limit,
// finish.txt). 1 once requested.
int HOST_stop_requested();
// 1 once sigint_handler ran (SIGINT, SIGTERM or SIGHUP), else 0: the run then
// returns HOST_EXIT_INTERRUPTED.
int HOST_interrupted();
// Installs sigint_handler for SIGINT, SIGTERM and SIGHUP, so that an
// interrupt, a kill or a hang-up of the controlling terminal all run the
// loop's orderly close-down (stop message, saved files, flushed recordings).
// 1 when all three are installed, 0 otherwise.
int HOST_install_stop_handlers();
void HOST_request_stop();

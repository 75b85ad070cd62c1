// The collections a printer's Get-Printer-Attributes responses share with
// the printer itself, kept alive whatever the responses do to their counts.
//
// libcups 2 copies a collection attribute by pointing at the same collection
// and counting one more use (ippCopyAttribute increments the collection's
// use count, ippDelete decrements it and frees the collection at zero),
// without a lock. PAPPL (1.3.1, and upstream as of December 2026 when built
// with libcups 2) copies a printer's capability collections
// (finishing-col-database, finishing-col-default, media-col-database,
// media-size-supported) into each response under the printer's read lock,
// which many client threads hold at once, and deletes each response with no
// lock at all. Parallel requests lose some of those updates: a count that
// drifts down to zero frees a collection the printer still holds, and the
// next responses read freed memory (a segmentation fault within a few
// thousand requests over 8 connections).
//
// A second fault of the same sharing is not mended here: libcups 2 keeps its
// place in a collection it writes inside the collection, so two responses
// written at once can cut each other's copy short (a client then gets a
// garbled answer, or waits for bytes that never come). Only clients asking
// for these collections over several connections at once meet it.
//
// PAPPL's API offers no lock around those copies, so the app holds many
// uses of each such collection itself: the count must drift down by that
// many before it reaches zero. Lost increments and lost decrements both
// occur; measured with 8 threads copying and deleting in a tight loop, a
// collection's count drifted down by at most 49 and up by at most 683 in
// 1.6 million updates (a lost decrement only keeps a collection longer).
#pragma once

#include <pappl/pappl.h>

namespace zeruapp {

// Holds the printer's capability collections, once, when it is made and
// before clients reach it. They are held for as long as the server runs,
// even after the printer is deleted: when a count has drifted down, giving
// the uses back would free a collection the printer or a response still
// holds (about 450 KiB a printer).
void holdSharedCollections(pappl_printer_t* printer);

}  // namespace zeruapp

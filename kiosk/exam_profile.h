// The browser profile folder of each exam: new for every exam, so that
// nothing one student's browser kept (a sign-in, a form's answers) reaches
// the next, and of a name no one can know before the exam (see
// exam_profile_rules.h).
#pragma once

#include <string>

// Makes the folder in the temporary folder and holds it open (so that no
// other copy of the program removes it) until RemoveExamProfile. Its path,
// or empty when the temporary folder cannot be used: a path the browser's
// command line could not carry, or one where no folder can be made.
std::wstring CreateExamProfile();

// Once the browser has ended: the folder and everything in it go. What is
// still in use stays, for RemoveLeftoverProfiles. Nothing without a folder.
void RemoveExamProfile();

// At start-up: the folders that earlier runs left (a crash, a power cut),
// except those another copy of the program holds for its running exam.
void RemoveLeftoverProfiles();

// The single document. It holds no data: the survey lives in the global record
// lists and the site header, and site files are read and written only by the
// view's open and save commands, so closing never asks to save.
#pragma once

class CKestrowDoc {
  public:
    bool OnNewDocument() { return true; }
    bool IsModified() const { return false; }
};

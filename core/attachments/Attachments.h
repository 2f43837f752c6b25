#pragma once
// Attachment extraction on disk: a stored message taken apart into one file
// per attachment in a folder, one AttachmentObject per file in the caller's
// collection (the walk itself: AttachmentWalk.h), and the list of a
// message's attachment names.
#include <cstdint>
#include <string>

#include "core/attachments/AttachmentObjects.h"
#include "core/attachments/AttachmentWalk.h"

namespace core {

// Writes the attachments of the message into folder (ending in "\"; created
// when needed) and adds one object per written file to the collection,
// which is created on the first one. tag: the caller's tag (-1 none); a
// tagged call puts uuencoded files (and the copy) into folder + "scan\".
// extractAll: unnamed parts too (".tmp" names), and a copy of the whole
// message under its own file name (never over the message itself, nor over
// a file of this call). skipUnnamedHtml: no generated ".html" files.
// Afterwards every object of the collection, those of earlier calls too,
// gets the size of its file. A message that cannot be opened changes
// nothing. A failed read or write throws ExtractionError; the objects added
// so far stay in the collection.
void ExtractAttachments(const std::string& messagePath, std::int32_t tag, const std::string& folder,
                        AttachmentCollection& collection, bool extractAll, bool skipUnnamedHtml);

// Appends one object for a written file (Tag and MessagePath as given),
// creating the collection first when there is none; each of the two steps
// holds lock 0 by itself. False, with nothing added, when either failed.
bool AddAttachmentObject(AttachmentCollection& collection, const std::string& filePath, const std::string& name,
                         bool nameGenerated, std::int32_t tag, const std::string& messagePath);

// Frees every object of the collection and empties it; with deleteFiles each
// object's file is deleted first. The collection itself stays.
void FreeAttachmentObjects(ObjectCollection& collection, bool deleteFiles);

// The names of the message's attachments as the message declares them (or
// generated for an unnamed HTML part), in the order written, joined by ", ";
// empty when there are none. Uuencoded files have no name and are not
// listed. The files are written to a fresh folder under the temporary
// folder and deleted again, with the folder; no error is passed on.
std::string GetAttachmentNames(const std::string& messagePath);

}  // namespace core

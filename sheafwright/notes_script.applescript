-- The script the tool sends to Notes, compiled once and then called a handler at a time:
-- folderNames() lists the folders to read and keeps them; folderNotes(k) answers the notes of
-- the k-th of them as {folder name, note name, body, creation date, modification date, id,
-- password protected}; noteCount(k) answers how many notes Notes shows in it. A note or folder
-- that Notes cannot hand over becomes a shorter list naming its folder (and the note, where
-- its name can be read), so that the tool can say which ones it could not read.

-- Long lists live in a script object: AppleScript reaches an item of a long list quickly
-- only through a reference such as a property. Properties keep their values from one call
-- to the next, which is how folderNotes finds the folders folderNames kept.
script pile
    property folderRefs : {}
    property folderLabels : {}
    property gathered : {}
    property noteIds : {}
    property noteNames : {}
    property noteLocked : {}
    property noteBodies : {}
    property noteCreated : {}
    property noteModified : {}
end script

-- Errors that no other folder or note would escape: out of memory, canceled, Notes quit,
-- Notes not answering, permission refused, AppleScript's own limits. They end the run.
property fatalErrors : {-108, -128, -600, -609, -1712, -1743, -2706, -2707, -2708}
-- Out of memory and AppleScript's own limits: what one huge reply for a whole folder (pasted
-- images) raises, where asking for one note at a time may still succeed.
property bulkReplyErrors : {-108, -2706, -2707, -2708}

on listOf(x)
    if class of x is list then return x
    return {x}
end listOf

-- Every note as Notes hands it over, the lock with it: `password protected` is true of a note
-- unlocked in Notes too, which hands over its body, while a locked one hands over missing value
-- or "". The tool decides which notes it can read.
on addNote(folderName, noteName, noteBody, createdAt, modifiedAt, noteId, lockedNote)
    set end of gathered of pile to {folderName, noteName, noteBody, createdAt, modifiedAt, noteId, lockedNote}
end addNote

-- Lists read one property at a time pair up only if they describe the same notes in the same
-- order, and Notes moves a note that is edited or synced meanwhile: the ids read first and
-- last must agree, and every list must be as long.
on pairsUp(idsBefore, idsAfter, otherLists)
    set noteCount to length of idsBefore
    considering case
        if idsAfter is not idsBefore then return false
    end considering
    repeat with i from 1 to length of otherLists
        if length of (item i of otherLists) is not noteCount then return false
    end repeat
    return true
end pairsUp

-- Smart folders are views of notes that live elsewhere: their first note's container is
-- another folder. Notes does not resolve `id of container of n`, so the container comes first.
on isSmartFolder(f)
    try
        tell application "Notes"
            with timeout of 600 seconds
                set firstContainer to container of note 1 of f
                set containerId to id of firstContainer
                set folderId to id of f
            end timeout
        end tell
    on error errorMessage number errorNumber
        if errorNumber is in fatalErrors then error errorMessage number errorNumber
        -- No first note (an empty folder) or no container: read the folder as it is.
        return false
    end try
    considering case
        return containerId is not folderId
    end considering
end isSmartFolder

-- The folders to read, in Notes' order, each as its name (missing value when it cannot be
-- read). A folder that no longer exists (a deleted subfolder lingers as a reference) fails
-- with -1728 on its name and is left out. Folders that look like smart folders come last:
-- their notes that live elsewhere have been read by then and are dropped by their ids, and a
-- folder taken for a smart one by mistake (Recently Deleted, a parent that lists its
-- subfolders' notes) still has its own notes exported. Time enough to answer the automation
-- prompt, too.
on folderNames()
    set folderRefs of pile to {}
    set folderLabels of pile to {}
    set smartRefs to {}
    set smartLabels to {}
    with timeout of 1800 seconds
        tell application "Notes" to set theFolders to every folder
    end timeout
    set theFolders to listOf(theFolders)
    repeat with k from 1 to length of theFolders
        set f to item k of theFolders
        set folderName to missing value
        set keep to true
        set smart to false
        try
            with timeout of 600 seconds
                tell application "Notes" to set folderName to name of f
            end timeout
            set smart to isSmartFolder(f)
        on error errorMessage number errorNumber
            if errorNumber is in fatalErrors then error errorMessage number errorNumber
            if errorNumber is -1728 and folderName is missing value then set keep to false
        end try
        if smart then
            set end of smartRefs to f
            set end of smartLabels to folderName
        else if keep then
            set end of folderRefs of pile to f
            set end of folderLabels of pile to folderName
        end if
    end repeat
    set folderRefs of pile to (folderRefs of pile) & smartRefs
    set folderLabels of pile to (folderLabels of pile) & smartLabels
    return folderLabels of pile
end folderNames

-- Each property of all the folder's notes in one request, with half an hour to answer
-- (thousands of notes, pasted images; the default is two minutes). "done" once the notes are
-- gathered; "changed" when the folder changed while it was read; "failed" otherwise, a
-- request that timed out or a reply too large for AppleScript included.
on readWholeFolder(f, folderName)
    try
        tell application "Notes"
            with timeout of 1800 seconds
                set idsBefore to id of notes of f
                if idsBefore is {} then return "done"
                set theNames to name of notes of f
                set theLocked to password protected of notes of f
                set theBodies to body of notes of f
                set theCreated to creation date of notes of f
                set theModified to modification date of notes of f
                set idsAfter to id of notes of f
            end timeout
        end tell
    on error errorMessage number errorNumber
        if errorNumber is in fatalErrors and errorNumber is not -1712 and errorNumber is not in bulkReplyErrors then
            error errorMessage number errorNumber
        end if
        return "failed"
    end try
    set noteIds of pile to listOf(idsBefore)
    set noteNames of pile to listOf(theNames)
    set noteLocked of pile to listOf(theLocked)
    set noteBodies of pile to listOf(theBodies)
    set noteCreated of pile to listOf(theCreated)
    set noteModified of pile to listOf(theModified)
    if not pairsUp(noteIds of pile, listOf(idsAfter), {noteNames of pile, noteLocked of pile, noteBodies of pile, noteCreated of pile, noteModified of pile}) then return "changed"
    repeat with i from 1 to length of noteIds of pile
        addNote(folderName, item i of noteNames of pile, item i of noteBodies of pile, item i of noteCreated of pile, item i of noteModified of pile, item i of noteIds of pile, item i of noteLocked of pile)
    end repeat
    return "done"
end readWholeFolder

-- Everything but the bodies in bulk, then each body on its own, asked for by the note's id so
-- that notes added, removed or moved meanwhile do not shift the others; a note that fails
-- costs only itself. When even the bulk part does not pair up, each note's other properties
-- are asked for by id too. Ten minutes for one note is plenty: Notes does not answer any
-- more. The bulk part gets the long timeout: after a request for the folder timed out, Notes
-- is still working on it and answers only once done.
on readNoteByNote(f, folderName)
    set paired to false
    try
        tell application "Notes"
            with timeout of 1800 seconds
                set theIds to id of notes of f
                set theNames to name of notes of f
                set theLocked to password protected of notes of f
                set theCreated to creation date of notes of f
                set theModified to modification date of notes of f
                set idsAfter to id of notes of f
            end timeout
        end tell
        set noteIds of pile to listOf(theIds)
        set noteNames of pile to listOf(theNames)
        set noteLocked of pile to listOf(theLocked)
        set noteCreated of pile to listOf(theCreated)
        set noteModified of pile to listOf(theModified)
        set paired to pairsUp(noteIds of pile, listOf(idsAfter), {noteNames of pile, noteLocked of pile, noteCreated of pile, noteModified of pile})
    on error errorMessage number errorNumber
        if errorNumber is in fatalErrors and errorNumber is not -1712 then
            error errorMessage number errorNumber
        end if
    end try
    if not paired then
        with timeout of 1800 seconds
            tell application "Notes" to set theIds to id of notes of f
        end timeout
        set noteIds of pile to listOf(theIds)
    end if
    repeat with i from 1 to length of noteIds of pile
        set noteId to item i of noteIds of pile
        set noteName to missing value
        set lockedNote to missing value
        set createdAt to missing value
        set modifiedAt to missing value
        try
            if paired then
                set noteName to item i of noteNames of pile
                set lockedNote to item i of noteLocked of pile
                set createdAt to item i of noteCreated of pile
                set modifiedAt to item i of noteModified of pile
            end if
            tell application "Notes"
                with timeout of 600 seconds
                    if not paired then
                        set noteName to name of note id noteId
                        set lockedNote to password protected of note id noteId
                        set createdAt to creation date of note id noteId
                        set modifiedAt to modification date of note id noteId
                    end if
                    set noteBody to body of note id noteId
                end timeout
            end tell
            addNote(folderName, noteName, noteBody, createdAt, modifiedAt, noteId, lockedNote)
        on error errorMessage number errorNumber
            if errorNumber is in fatalErrors then error errorMessage number errorNumber
            if lockedNote is true and noteName is not missing value then
                -- A locked note whose body Notes refuses outright: the tool still names the lock.
                addNote(folderName, noteName, missing value, createdAt, modifiedAt, noteId, true)
            else
                -- Two values: a note, even when its name could not be read.
                set end of gathered of pile to {folderName, noteName}
            end if
        end try
    end repeat
end readNoteByNote

-- Lets go of one folder's lists before the next is read, so that only one folder is held.
on clearPile()
    set noteIds of pile to {}
    set noteNames of pile to {}
    set noteLocked of pile to {}
    set noteBodies of pile to {}
    set noteCreated of pile to {}
    set noteModified of pile to {}
end clearPile

-- The notes of the k-th folder that folderNames answered. A folder read in bulk while it
-- changed is read in bulk once more before note by note, which costs an event per note.
-- A folder whose notes cannot be listed at all is one short element.
on folderNotes(k)
    set f to item k of folderRefs of pile
    set folderName to item k of folderLabels of pile
    set gathered of pile to {}
    try
        set outcome to readWholeFolder(f, folderName)
        if outcome is "changed" then set outcome to readWholeFolder(f, folderName)
        if outcome is not "done" then readNoteByNote(f, folderName)
    on error errorMessage number errorNumber
        clearPile()
        set gathered of pile to {}
        if errorNumber is in fatalErrors then error errorMessage number errorNumber
        return {{folderName}}
    end try
    clearPile()
    set theNotes to gathered of pile
    set gathered of pile to {}
    return theNotes
end folderNotes

-- The number of notes Notes shows in the k-th folder that folderNames answered, in one
-- request; missing value when Notes cannot tell.
on noteCount(k)
    set f to item k of folderRefs of pile
    try
        with timeout of 600 seconds
            tell application "Notes" to set theCount to count notes of f
        end timeout
    on error errorMessage number errorNumber
        if errorNumber is in fatalErrors then error errorMessage number errorNumber
        return missing value
    end try
    return theCount
end noteCount

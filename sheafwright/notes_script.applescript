-- The script the tool runs against Notes: every note of every folder, in Notes' order, as
-- {folder name, note name, body, creation date, modification date}. A note or folder that
-- Notes cannot hand over becomes a shorter list naming its folder (and the note, where its
-- name can be read), so that the tool can say how many notes it could not read.

-- Long lists live in a script object: AppleScript reaches an item of a long list quickly
-- only through a reference such as a property.
script pile
    property gathered : {}
    property noteNames : {}
    property noteBodies : {}
    property noteCreated : {}
    property noteModified : {}
    property noteRefs : {}
end script

-- Errors that no other folder or note would escape: canceled, Notes quit, Notes not
-- answering, permission refused. They end the run.
property fatalErrors : {-128, -600, -609, -1712, -1743}

on listOf(x)
    if class of x is list then return x
    return {x}
end listOf

on addNote(folderName, noteName, noteBody, createdAt, modifiedAt)
    if noteBody is missing value then
        -- A locked note: Notes hands over its name and dates but not its body.
        set end of gathered of pile to {folderName, noteName}
    else
        set end of gathered of pile to {folderName, noteName, noteBody, createdAt, modifiedAt}
    end if
end addNote

-- Each property of all the folder's notes in one request, with half an hour to answer
-- (thousands of notes, pasted images; the default is two minutes). The lists pair up only if
-- they describe the same notes in the same order, and Notes moves a note that is edited or
-- synced meanwhile: the notes' ids before and after must agree. False when anything is amiss,
-- a request that timed out included.
on readWholeFolder(f, folderName)
    try
        tell application "Notes"
            with timeout of 1800 seconds
                set idsBefore to id of notes of f
                set theNames to name of notes of f
                set theBodies to body of notes of f
                set theCreated to creation date of notes of f
                set theModified to modification date of notes of f
                set idsAfter to id of notes of f
            end timeout
        end tell
    on error errorMessage number errorNumber
        if errorNumber is in fatalErrors and errorNumber is not -1712 then
            error errorMessage number errorNumber
        end if
        return false
    end try
    set idsBefore to listOf(idsBefore)
    set idsAfter to listOf(idsAfter)
    set noteNames of pile to listOf(theNames)
    set noteBodies of pile to listOf(theBodies)
    set noteCreated of pile to listOf(theCreated)
    set noteModified of pile to listOf(theModified)
    set noteCount to length of idsBefore
    considering case
        if idsAfter is not idsBefore then return false
    end considering
    if length of noteNames of pile is not noteCount then return false
    if length of noteBodies of pile is not noteCount then return false
    if length of noteCreated of pile is not noteCount then return false
    if length of noteModified of pile is not noteCount then return false
    repeat with i from 1 to noteCount
        addNote(folderName, item i of noteNames of pile, item i of noteBodies of pile, item i of noteCreated of pile, item i of noteModified of pile)
    end repeat
    return true
end readWholeFolder

-- Note by note, over references taken once, so that notes added or removed meanwhile do not
-- shift the others; a note that fails costs only itself. Ten minutes for one note's property
-- is plenty: Notes does not answer any more. The references get the long timeout: after a
-- folder's request timed out, Notes is still working on it and answers only once done.
on readNoteByNote(f, folderName)
    with timeout of 1800 seconds
        tell application "Notes" to set theNotes to (get notes of f)
    end timeout
    set noteRefs of pile to listOf(theNotes)
    repeat with i from 1 to length of noteRefs of pile
        set n to item i of noteRefs of pile
        set noteName to missing value
        try
            tell application "Notes"
                with timeout of 600 seconds
                    set noteName to name of n
                    set noteBody to body of n
                    set createdAt to creation date of n
                    set modifiedAt to modification date of n
                end timeout
            end tell
            addNote(folderName, noteName, noteBody, createdAt, modifiedAt)
        on error errorMessage number errorNumber
            if errorNumber is in fatalErrors then error errorMessage number errorNumber
            if noteName is missing value then
                set end of gathered of pile to {folderName}
            else
                set end of gathered of pile to {folderName, noteName}
            end if
        end try
    end repeat
end readNoteByNote

-- Time enough to answer the automation prompt, too.
with timeout of 1800 seconds
    tell application "Notes" to set theFolders to every folder
end timeout
set theFolders to listOf(theFolders)
repeat with k from 1 to length of theFolders
    set f to item k of theFolders
    -- A folder whose name cannot be read names no folder: counted only without --folder.
    set folderName to missing value
    try
        tell application "Notes" to set folderName to name of f
        if not readWholeFolder(f, folderName) then readNoteByNote(f, folderName)
    on error errorMessage number errorNumber
        if errorNumber is in fatalErrors then error errorMessage number errorNumber
        set end of gathered of pile to {folderName}
    end try
end repeat
return gathered of pile

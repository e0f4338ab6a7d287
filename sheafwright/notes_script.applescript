tell application "Notes"
    set out to {}
    repeat with f in folders
        set folderName to name of f
        repeat with n in notes of f
            try
                set end of out to {folderName, name of n, body of n, creation date of n, modification date of n}
            on error
                set end of out to {folderName, "", "", missing value, missing value}
            end try
        end repeat
    end repeat
    return out
end tell

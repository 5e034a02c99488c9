' Installs the package's readme into "Packages" on the first connected device as vbs.txt.
Function main(fileName)
    Dim fso, engine, folder, temp, copier
    Set fso = CreateObject("Scripting.FileSystemObject")
    ' The hub hands its item lists out as plain IUnknown, on which this engine calls no member:
    ' a JScript helper finds the folder ("Packages" at the device's top or on a storage medium).
    Set engine = CreateObject("MSScriptControl.ScriptControl")
    engine.Language = "JScript"
    engine.AddCode "function has(items, name) { for (var i = 1; i <= items.Count; i++) if (items.Item(i) == name) return true; return false; }" & vbLf & _
        "function folder() { var hub = new ActiveXObject('Tavrilon.ZelvanMgr'); var device = hub.Items('').Item(1);" & _
        " var top = hub.Items(device); if (has(top, 'Packages')) return device + '\\Packages';" & _
        " for (var i = 1; i <= top.Count; i++) { var medium = device + '\\' + top.Item(i);" & _
        " if (has(hub.Items(medium), 'Packages')) return medium + '\\Packages'; } return device + '\\Packages'; }"
    folder = engine.Eval("folder()")
    temp = fso.GetSpecialFolder(2).Path & "\" & fso.GetTempName()
    CAPFile.Find("readme.txt", 2).SaveToFile temp
    Set copier = CAPLinker.Copier
    copier.AddFile "vbs.txt", temp
    copier.ZelvanFolder = folder
    main = copier.Run()
    fso.DeleteFile temp
End Function

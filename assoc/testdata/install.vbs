' Installs the package's readme into "Packages" on the first connected device as vbs.txt.
Function main(fileName)
    Dim fso, engine, folder, temp, copier
    Set fso = CreateObject("Scripting.FileSystemObject")
    ' The hub hands its item list out as a plain IUnknown, on which this engine calls no member:
    ' a JScript expression reads the first device's name.
    Set engine = CreateObject("MSScriptControl.ScriptControl")
    engine.Language = "JScript"
    folder = engine.Eval("new ActiveXObject(""Tavrilon.ZelvanMgr"").Items("""").Item(1)") & "\Packages"
    temp = fso.GetSpecialFolder(2).Path & "\" & fso.GetTempName()
    CAPFile.Find("readme.txt", 2).SaveToFile temp
    Set copier = CAPLinker.Copier
    copier.AddFile "vbs.txt", temp
    copier.ZelvanFolder = folder
    main = copier.Run()
    fso.DeleteFile temp
End Function
